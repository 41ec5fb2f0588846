# frozen_string_literal: true
#
# Keyloft Troubleshooting diagnostics script.
#
# Usage: ruby vantletools.rb BUNDLE_PATH=/path/to/keyloft-troubleshooting
#
# Gathers what the Keyloft support desk needs to diagnose a broken Keyloft 4 installation on Linux and
# leaves it as one zip archive in the report folder, the XDG data home + "Keyloft 4/Diagnostics"
# (created with mode 0700 when missing). The archive appears under its final name only once it is
# complete; until then it is a hidden temporary file in the same folder.
#
# Exit status 0 means the report was written (its path is printed on standard output). Any other
# status means no report was left behind; standard error then says why, in one line meant for the user.
# Stopped by SIGTERM, SIGINT or SIGHUP, it removes what it wrote so far and dies by that signal.
#
# Privacy: the archive never holds the contents of vault, key, database or other product files (only
# the last part of the product's log files), nor the clipboard, core dumps, command-line arguments of
# other processes, or environment variables outside a fixed list. Every text from outside the script
# (log lines, the journal, environment values, command output, file names, link targets) passes through
# the redaction of redaction.rb beside this file; the user's home folder is written as "~".
#
# Plain Ruby with its standard library only; runs on Ruby 2.7 and later.

require_relative 'redaction'
require 'digest'
require 'etc'
require 'json'
require 'rbconfig'
require 'timeout'
require 'zlib'

module Vantletools
  SCRIPT_VERSION = '1.0'
  PRODUCT_FOLDER = 'Keyloft 4'
  REPORT_SUBFOLDER = 'Diagnostics'
  REPORT_PREFIX = 'Keyloft 4 Diagnostics'
  PROGRAM = 'vantletools.rb'

  # Everything the report may grow to. A huge home folder or a runaway log changes how much is left
  # out, never how long the run takes or how big the archive gets.
  module Bounds
    FOLDER_ENTRIES = 1000          # entries listed per product folder
    TOTAL_ENTRIES = 5000           # entries listed over all product folders
    NAMES_READ_PER_FOLDER = 2000   # names read from any one directory before giving up on the rest
    XDG_NAMES_READ = 100_000       # names looked at in each XDG home when looking for product folders
    LOG_FILES = 5                  # newest product log files included
    LOG_SEARCH_NAMES = 50_000      # names looked at in the search for log files
    LOG_SEARCH_DEPTH = 8           # folders below a product folder searched for log files
    LOG_TAIL_BYTES = 256 * 1024    # read from the end of each log file
    LOG_LINE_SEARCH_BYTES = 16 * 1024 * 1024 # searched back for the start of a last line longer than that
    LOG_LINES = 2000               # lines kept per log file
    LINE_CHARS = 2000              # characters kept per log line (after redaction)
    PROCESSES = 100                # product processes listed
    ENV_VALUE_CHARS = 4096         # characters kept per environment value
    COMMAND_OUTPUT = 256 * 1024    # bytes read from any external command
    COMMAND_SECONDS = 5            # longest wait for any external command
    FILE_BYTES = {                 # largest text per archive member
      'tool.txt' => 32 * 1024, 'system.txt' => 64 * 1024, 'folders.txt' => 1024 * 1024,
      'processes.txt' => 64 * 1024, 'environment.txt' => 64 * 1024, 'journal.txt' => 256 * 1024,
      'log' => 384 * 1024
    }.freeze
    COLLECTOR_SECONDS = {          # longest run of each collector
      'tool' => 8, 'system' => 8, 'folders' => 15, 'processes' => 5, 'logs' => 8,
      'environment' => 2, 'journal' => 8
    }.freeze
  end

  # A run ends with this when no report can be written; the message is for the user.
  class ReportError < StandardError; end

  # ---------------------------------------------------------------------------------------------------
  # Text helpers

  module Text
    module_function

    # Any bytes as valid UTF-8 (see Redaction::Decoding) with every control character but the tab and
    # the line feed shown escaped, so the text is safe in JSON and readable in a plain editor.
    def clean(value)
      Redaction::Escaping.text(Redaction::Decoding.text(value))
    end

    # A count as people write it: 1,500.
    def count(number)
      number.to_s.reverse.scan(/\d{1,3}/).join(',').reverse
    end

    # A short, readable reason for a system error ("Permission denied", not "@ rb_sysopen - ...").
    def reason(error)
      message = error.message.to_s.sub(/ @ .*\z/m, '')
      message = message.sub(/ - .*\z/m, '') if error.is_a?(SystemCallError)
      clean(message)
    end

    # Whether a name from the file system (any bytes) matches a pattern.
    def match?(name, pattern)
      clean(name) =~ pattern ? true : false
    end

    # The path without trailing slashes ("/" stays "/").
    def strip_slashes(path)
      result = path
      result = result[0..-2] while result.length > 1 && result.end_with?('/')
      result
    end

    def bytes(count)
      units = %w[bytes KiB MiB GiB TiB]
      value = count.to_f
      unit = 0
      while value >= 1024 && unit < units.size - 1
        value /= 1024
        unit += 1
      end
      unit.zero? ? "#{count} bytes" : format('%.1f %s', value, units[unit])
    end

    def seconds(value)
      format('%.2f s', value)
    end
  end

  # Text that stops growing at a byte limit and says so at its end.
  class BoundedText
    attr_reader :limit

    def initialize(limit)
      @limit = limit
      @text = ''.dup
      @truncated = false
    end

    def truncated?
      @truncated
    end

    # Adds one line; a line feed inside it (a file name can hold one) is shown as "?".
    def <<(line)
      return self if @truncated

      line = "#{line.to_s.tr("\n", '?')}\n"
      if @text.bytesize + line.bytesize > @limit
        @truncated = true
        return self
      end
      @text << line
      self
    end

    def to_s
      return @text unless @truncated

      "#{@text}[output stopped here: this part of the report is limited to #{Text.bytes(@limit)}]\n"
    end
  end

  # ---------------------------------------------------------------------------------------------------
  # External commands: never through a shell, always with a time limit and a bounded output.

  module Command
    Result = Struct.new(:status, :out, :err, :note)
    CHILD_ENV = { 'LC_ALL' => 'C', 'LANG' => 'C' }.freeze
    FALLBACK_DIRS = %w[/usr/local/bin /usr/bin /bin /usr/sbin /sbin].freeze

    module_function

    # The absolute path of a program from PATH (absolute entries only) or the usual folders; nil when
    # there is none.
    def find(name)
      dirs = ENV.fetch('PATH', '').split(':').select { |dir| dir.start_with?('/') } + FALLBACK_DIRS
      dirs.each do |dir|
        candidate = File.join(dir, name)
        return candidate if File.file?(candidate) && File.executable?(candidate)
      end
      nil
    end

    # Runs argv (argv[0] looked up with find) and answers a Result; status nil when the program is
    # missing, could not start or was stopped at the time limit (note says which).
    def run(argv, seconds: Bounds::COMMAND_SECONDS, limit: Bounds::COMMAND_OUTPUT)
      program = find(argv[0])
      return Result.new(nil, '', '', "#{argv[0]} is not available") unless program

      spawn_and_collect(program, argv, seconds, limit)
    end

    def spawn_and_collect(program, argv, seconds, limit)
      out_read, out_write = IO.pipe
      err_read, err_write = IO.pipe
      pid = nil
      begin
        pid = Process.spawn(CHILD_ENV, [program, argv[0]], *argv[1..-1], in: File::NULL, out: out_write,
                                                                     err: err_write, pgroup: true)
        out_write.close
        err_write.close
        out, err, timed_out = drain([out_read, err_read], deadline_after(seconds), limit)
        status = timed_out ? nil : reap(pid, deadline_after(1))
        pid = nil unless status.nil?
        note = status.nil? ? "#{argv[0]} was stopped after #{seconds} s" : nil
        Result.new(status && (status.exitstatus || 128 + status.termsig.to_i), out, err, note)
      rescue SystemCallError => e
        Result.new(nil, '', '', "#{argv[0]} could not be started: #{Text.reason(e)}")
      ensure
        stop(pid) if pid
        [out_read, out_write, err_read, err_write].each { |io| io.close unless io.closed? }
      end
    end

    def deadline_after(seconds)
      Process.clock_gettime(Process::CLOCK_MONOTONIC) + seconds
    end

    # Reads both pipes to their end or the deadline; answers [out, err, timed_out].
    def drain(pipes, deadline, limit)
      buffers = { pipes[0] => ''.b, pipes[1] => ''.b }
      open = pipes.dup
      until open.empty?
        left = deadline - Process.clock_gettime(Process::CLOCK_MONOTONIC)
        return [buffers[pipes[0]], buffers[pipes[1]], true] if left <= 0

        ready = IO.select(open, nil, nil, left)
        next unless ready

        ready[0].each do |io|
          chunk = io.read_nonblock(64 * 1024, exception: false)
          next if chunk == :wait_readable

          if chunk.nil?
            open.delete(io)
          elsif buffers[io].bytesize < limit
            buffers[io] << chunk.byteslice(0, limit - buffers[io].bytesize)
          end
        end
      end
      [buffers[pipes[0]], buffers[pipes[1]], false]
    end

    # Waits for the child until the deadline; nil when it is still running.
    def reap(pid, deadline)
      loop do
        _, status = Process.wait2(pid, Process::WNOHANG)
        return status if status
        return nil if Process.clock_gettime(Process::CLOCK_MONOTONIC) >= deadline

        sleep 0.01
      end
    end

    def stop(pid)
      begin
        Process.kill('KILL', -pid)
      rescue SystemCallError
        nil
      end
      begin
        Process.wait(pid)
      rescue SystemCallError
        nil
      end
    end
  end

  # ---------------------------------------------------------------------------------------------------
  # Where things are

  module Places
    module_function

    # The home folder from $HOME when it holds an absolute path, else nil. The report folder is found
    # from it alone, as the tool does, so the report lands where the tool looks for it.
    def env_home
      value = ENV['HOME'].to_s
      value.start_with?('/') ? Text.strip_slashes(value) : nil
    end

    # The home folder the product uses: $HOME, else the password database's; nil when neither.
    def home
      env_home || database_home
    end

    # The home folder of the user's entry in the password database, when it is an absolute path.
    def database_home
      entry = Etc.getpwuid(Process.uid)
      entry && entry.dir.to_s.start_with?('/') ? entry.dir : nil
    rescue ArgumentError
      nil
    end

    # An XDG base folder: the variable when it holds an absolute path (relative ones are invalid by the
    # XDG rules), else home + fallback; nil without a home.
    def xdg(variable, fallback, home)
      value = ENV[variable].to_s
      return value if value.start_with?('/')

      home ? File.join(home, fallback) : nil
    end

    # The tool finds no report folder when XDG_DATA_HOME is set to a relative path, so the script
    # refuses it too rather than writing a report the tool would never show.
    def report_folder(home)
      given = ENV['XDG_DATA_HOME'].to_s
      unless given.empty? || given.start_with?('/')
        raise ReportError, "The report folder cannot be found: XDG_DATA_HOME (#{given}) is not an " \
                           'absolute path.'
      end

      data_home = xdg('XDG_DATA_HOME', '.local/share', home)
      unless data_home
        raise ReportError, 'The report folder cannot be found: neither HOME nor XDG_DATA_HOME ' \
                           'holds an absolute path.'
      end

      File.join(data_home, PRODUCT_FOLDER, REPORT_SUBFOLDER)
    end
  end

  # ---------------------------------------------------------------------------------------------------
  # The archive

  # A minimal zip writer: deflated members with UTF-8 names, one central directory, no zip64 (the
  # report stays far below its limits).
  class ZipWriter
    UTF8_NAMES = 0x0800
    VERSION = 20
    MADE_BY_UNIX = (3 << 8) | VERSION
    MEMBER_MODE = 0o100600

    def initialize(time)
      @body = ''.b
      @entries = []
      year = [time.year, 1980].max
      @dos_time = (time.hour << 11) | (time.min << 5) | (time.sec / 2)
      @dos_date = ((year - 1980) << 9) | (time.month << 5) | time.day
    end

    def add(name, content)
      raw = content.to_s.b
      name_bytes = name.encode(Encoding::UTF_8).b
      crc = Zlib.crc32(raw)
      deflated = deflate(raw)
      method, payload = deflated.bytesize < raw.bytesize ? [8, deflated] : [0, raw]
      entry = [name_bytes, method, crc, payload.bytesize, raw.bytesize, @body.bytesize]
      @body << [0x04034b50, VERSION, UTF8_NAMES, method, @dos_time, @dos_date, crc, payload.bytesize,
                raw.bytesize, name_bytes.bytesize, 0].pack('VvvvvvVVVvv')
      @body << name_bytes << payload
      @entries << entry
    end

    def bytes
      central = ''.b
      @entries.each do |name, method, crc, packed, size, offset|
        central << [0x02014b50, MADE_BY_UNIX, VERSION, UTF8_NAMES, method, @dos_time, @dos_date, crc, packed,
                    size, name.bytesize, 0, 0, 0, 0, MEMBER_MODE << 16, offset].pack('VvvvvvvVVVvvvvvVV')
        central << name
      end
      too_large = @body.bytesize + central.bytesize > 0xFFFFFFFF || @entries.size > 0xFFFF
      raise ArgumentError, 'the report grew too large for a zip archive' if too_large

      trailer = [0x06054b50, 0, 0, @entries.size, @entries.size, central.bytesize, @body.bytesize, 0]
      @body + central + trailer.pack('VvvvvVVv')
    end

    private

    def deflate(raw)
      stream = Zlib::Deflate.new(Zlib::BEST_COMPRESSION, -Zlib::MAX_WBITS)
      result = stream.deflate(raw, Zlib::FINISH)
      stream.close
      result
    end
  end

  # Creates the report folder and places the finished archive in it without ever showing a partial one.
  class ReportFolder
    TEMPORARY = /\A\.#{Regexp.escape(REPORT_PREFIX)} \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.zip\.\d+-[0-9a-f]+\.part\z/.freeze
    STALE_AFTER = 60 # seconds

    attr_reader :path

    def initialize(path)
      @path = path
      @created = []
    end

    # Creates every missing folder of the path with mode 0700; raises ReportError after removing
    # what it created.
    def create
      missing = []
      folder = @path
      until File.directory?(folder) || folder == '/'
        missing.unshift(folder)
        folder = File.dirname(folder)
      end
      missing.each { |dir| make(dir) }
    rescue ReportError
      undo_create
      raise
    end

    # Removes the folders create made (only while they are still empty).
    def undo_create
      @created.reverse_each do |dir|
        begin
          Dir.rmdir(dir)
        rescue SystemCallError
          break
        end
      end
    end

    # Removes the hidden temporary files that an earlier run left when it was killed: its own name
    # pattern, owned by this user, a regular file, older than a minute (so never one of a run still
    # going). Answers how many were removed.
    def remove_stale_parts
      removed = 0
      limit = Time.now - STALE_AFTER
      Dir.each_child(@path) do |name|
        next unless name.match?(TEMPORARY)

        file = File.join(@path, name)
        stat = File.lstat(file)
        next unless stat.file? && stat.uid == Process.uid && stat.mtime < limit

        removed += 1 if remove(file)
      rescue SystemCallError
        next
      end
      removed
    rescue SystemCallError
      removed
    end

    # Writes the bytes under a hidden name, then gives them the first free name of
    # "<base>.zip", "<base>_2.zip", ... ; answers the final path; raises ReportError.
    def write(base, bytes)
      temporary = File.join(@path, ".#{base}.zip.#{Process.pid}-#{rand(1 << 32).to_s(16)}.part")
      begin
        write_private(temporary, bytes)
        final = place(temporary, base)
        sync_folder
        final
      rescue SystemCallError, IOError => e
        raise ReportError, "The report could not be written to #{@path}: #{Text.reason(e)}."
      ensure
        remove(temporary)
      end
    end

    # Answers whether the file was removed.
    def remove(file)
      File.unlink(file)
      true
    rescue SystemCallError
      false
    end

    private

    def make(dir)
      Dir.mkdir(dir, 0o700)
      @created << dir
      File.chmod(0o700, dir)
    rescue Errno::EEXIST
      raise ReportError, "The report folder #{@path} could not be created: #{dir} exists and is not a folder."
    rescue SystemCallError => e
      raise ReportError, "The report folder #{@path} could not be created: #{Text.reason(e)} (#{dir})."
    end

    def write_private(temporary, bytes)
      File.open(temporary, File::WRONLY | File::CREAT | File::EXCL, 0o600) do |file|
        file.chmod(0o600)
        file.write(bytes)
        file.flush
        file.fsync
      end
    end

    # A hard link never replaces an existing report; file systems without hard links get a rename
    # after a check.
    def place(temporary, base)
      (1..999).each do |number|
        final = File.join(@path, number == 1 ? "#{base}.zip" : "#{base}_#{number}.zip")
        begin
          File.link(temporary, final)
          return final
        rescue Errno::EEXIST
          next
        rescue Errno::EPERM, Errno::EOPNOTSUPP, Errno::EXDEV, Errno::EMLINK
          next if File.exist?(final)

          File.rename(temporary, final)
          return final
        end
      end
      raise ReportError, "The report folder #{@path} already holds too many reports named #{base}."
    end

    def sync_folder
      File.open(@path, File::RDONLY) { |dir| dir.fsync }
    rescue SystemCallError, IOError
      nil
    end
  end

  # ---------------------------------------------------------------------------------------------------
  # Collectors

  # What one collector did: its archive members, its problems, its outcome, and the facts worth a line
  # in the summary.
  class Collection
    attr_reader :name, :files, :notes, :highlights
    attr_accessor :outcome, :duration

    def initialize(name)
      @name = name
      @files = {}
      @notes = []
      @highlights = []
      @problem = false
      @skipped = false
      @outcome = nil
      @duration = 0.0
    end

    def file(member, limit)
      @files[member] ||= BoundedText.new(limit)
    end

    # Something could not be gathered; the rest of the collector goes on.
    def problem(text)
      @problem = true
      @notes << text
    end

    def note(text)
      @notes << text
    end

    def skip(text)
      @skipped = true
      @notes << text
    end

    def highlight(text)
      @highlights << text
    end

    # A text cut at its size limit is no failure, but the reader should know.
    def note_truncations
      @files.each do |member, text|
        @notes << "#{member} stopped at its limit of #{Text.bytes(text.limit)}" if text.truncated?
      end
    end

    def finished_outcome
      return 'partial' if @problem

      @skipped ? 'skipped' : 'ok'
    end
  end

  # Small reads and user and group names, shared by the collectors.
  module Probe
    module_function

    # At most limit bytes of a file; nil when it cannot be read. Never blocks on a FIFO.
    def read_small(file, limit = 64 * 1024)
      File.open(file, File::RDONLY | File::NONBLOCK) { |io| io.read(limit) }.to_s
    rescue SystemCallError, IOError
      nil
    end

    def first_line(file)
      text = read_small(file, 4096)
      text ? Text.clean(text.lines.first.to_s.strip) : nil
    end

    def user_name(uid)
      account_name(@users ||= {}, uid) { Etc.getpwuid(uid) }
    end

    def group_name(gid)
      account_name(@groups ||= {}, gid) { Etc.getgrgid(gid) }
    end

    # The name of a user or group looked up once; the number itself when the system knows none.
    def account_name(cache, id)
      cache[id] ||= begin
        entry = yield
        entry ? Text.clean(entry.name) : id.to_s
      rescue ArgumentError
        id.to_s
      end
    end

    # Why a command gave no usable answer, in one line.
    def command_problem(result)
      result.note || Text.clean(result.err).strip.lines.first.to_s.strip
    end
  end

  # The troubleshooting tool itself and the programs it relies on.
  class ToolCollector
    HELPERS = %w[bash sh sudo getfacl xdg-email xdg-open xdg-mime journalctl df].freeze

    def initialize(bundle_path, redact)
      @bundle_path = bundle_path
      @redact = redact
    end

    def call(collection)
      out = collection.file('tool.txt', Bounds::FILE_BYTES['tool.txt'])
      out << "Keyloft Troubleshooting diagnostics, script version #{SCRIPT_VERSION}"
      out << "Script: #{@redact.path(File.expand_path(__FILE__))}"
      out << "Script SHA-256: #{script_digest}"
      bundle_facts(out, collection)
      out << "Ruby: #{RUBY_VERSION} (#{RUBY_PLATFORM}, #{RUBY_RELEASE_DATE}) at " \
             "#{@redact.path(RbConfig.ruby)}"
      out << ''
      out << 'Programs the tool relies on:'
      HELPERS.each do |name|
        found = Command.find(name)
        out << "  #{name}: #{found ? @redact.path(found) : 'not found'}"
      end
      mail_handler(out, collection)
    end

    private

    def script_digest
      Digest::SHA256.file(__FILE__).hexdigest
    rescue SystemCallError => e
      "unreadable (#{Text.reason(e)})"
    end

    def bundle_facts(out, collection)
      if @bundle_path.nil?
        out << 'Bundle path: not given (the script was started without BUNDLE_PATH=...)'
        collection.problem('no BUNDLE_PATH argument was given')
        return
      end
      version = tool_version
      out << "Bundle path: #{@redact.path(@bundle_path)}"
      out << "Bundle folder exists: #{File.directory?(@bundle_path) ? 'yes' : 'no'}"
      executable = File.join(@bundle_path, 'Contents', 'bin', 'keyloft-troubleshooting')
      out << "Tool executable present: #{File.file?(executable) ? 'yes' : 'no'}"
      out << "Tool version: #{version}"
      collection.highlight("Keyloft Troubleshooting version #{version}, at #{@redact.path(@bundle_path)}")
    end

    # The first line of the bundle's version file, written there by the build.
    def tool_version
      file = File.join(@bundle_path, 'Contents', 'Resources', 'version')
      version = Text.clean((Probe.read_small(file, 256) || '').lines.first.to_s.strip)
      version.empty? ? 'unknown' : version
    end

    def mail_handler(out, collection)
      result = Command.run(%w[xdg-mime query default x-scheme-handler/mailto], seconds: 3)
      if result.status.nil?
        out << "Default mail application: unknown (#{result.note})"
        collection.note(result.note)
        return
      end
      handler = Text.clean(result.out).strip
      handler = handler.empty? ? 'none set' : @redact.line(handler)
      out << "Default mail application: #{handler}"
      collection.highlight("Default mail application: #{handler}")
    end
  end

  # The machine, the session and the user.
  class SystemCollector
    OS_RELEASE_KEYS = %w[PRETTY_NAME NAME VERSION VERSION_ID VERSION_CODENAME ID ID_LIKE VARIANT_ID
                         BUILD_ID].freeze

    def initialize(home, redact, started)
      @home = home
      @redact = redact
      @started = started
    end

    def call(collection)
      out = collection.file('system.txt', Bounds::FILE_BYTES['system.txt'])
      time_facts(out)
      os_facts(out, collection)
      machine_facts(out)
      session_facts(out, collection)
      user_facts(out)
      space_facts(out, collection)
    end

    private

    def time_facts(out)
      out << "Report started: #{@started.strftime('%Y-%m-%d %H:%M:%S %z')} (#{Text.clean(@started.zone)})"
      out << "Report started (UTC): #{@started.getutc.strftime('%Y-%m-%dT%H:%M:%SZ')}"
      out << "Time zone: TZ=#{env_fact('TZ')}, " \
             "/etc/timezone=#{Probe.first_line('/etc/timezone') || '(none)'}, " \
             "/etc/localtime -> #{localtime_zone}"
    end

    def localtime_zone
      Text.clean(File.readlink('/etc/localtime').sub(%r{\A.*zoneinfo/}, ''))
    rescue SystemCallError, NotImplementedError
      '(not a link)'
    end

    def os_facts(out, collection)
      release = os_release
      if release.empty?
        out << 'Operating system: unknown (no os-release file)'
        collection.problem('no os-release file could be read')
      else
        OS_RELEASE_KEYS.each { |key| out << "OS #{key}: #{release[key]}" if release[key] }
      end
      uname = Etc.uname
      kernel = "#{Text.clean(uname[:sysname])} #{Text.clean(uname[:release])}"
      out << "Kernel: #{kernel} #{Text.clean(uname[:version])}"
      out << "Architecture: #{Text.clean(uname[:machine])} (Ruby host: #{RbConfig::CONFIG['host_cpu']})"
      machine = Text.clean(uname[:machine])
      collection.highlight("System: #{release['PRETTY_NAME'] || 'unknown'}, #{kernel}, #{machine}")
    end

    def os_release
      ['/etc/os-release', '/usr/lib/os-release'].each do |file|
        text = Probe.read_small(file)
        next unless text

        pairs = {}
        text.each_line do |row|
          key, value = row.strip.split('=', 2)
          next unless value && OS_RELEASE_KEYS.include?(key)

          pairs[key] = Text.clean(value.sub(/\A(["'])(.*)\1\z/, '\2'))
        end
        return pairs
      end
      {}
    end

    def machine_facts(out)
      out << "Processors: #{Etc.nprocessors}"
      (Probe.read_small('/proc/meminfo') || '').each_line do |row|
        out << "Memory #{Text.clean(row.strip)}" if row =~ /\A(MemTotal|MemAvailable|SwapTotal|SwapFree):/
      end
      uptime = Probe.first_line('/proc/uptime')
      out << "Uptime: #{uptime.split.first.to_f.round} s" if uptime
    end

    def session_facts(out, collection)
      desktop = env_fact('XDG_CURRENT_DESKTOP')
      type = env_fact('XDG_SESSION_TYPE')
      out << "Desktop: #{desktop} (session #{env_fact('XDG_SESSION_DESKTOP')}, " \
             "DESKTOP_SESSION #{env_fact('DESKTOP_SESSION')})"
      out << "Session type: #{type}; Wayland display: #{env_fact('WAYLAND_DISPLAY')}; " \
             "X11 display: #{env_fact('DISPLAY')}"
      locale = %w[LC_ALL LC_CTYPE LC_MESSAGES LANG LANGUAGE].map { |name| "#{name}=#{env_fact(name)}" }
      out << "Locale: #{locale.join(', ')}; Ruby external encoding: #{Encoding.default_external}"
      collection.highlight("Desktop: #{desktop}, session type #{type}, LANG=#{env_fact('LANG')}")
    end

    def env_fact(name)
      value = ENV[name]
      return '(not set)' if value.nil? || value.empty?

      value = @redact.environment(name, value)
      value.length > 200 ? "#{value[0, 200]} [value shortened]" : value
    end

    def user_facts(out)
      out << "User: #{Probe.user_name(Process.uid)} (uid #{Process.uid}, euid #{Process.euid}, " \
             "gid #{Process.gid})"
      groups = ([Process.gid] + Process.groups).uniq.map { |gid| Probe.group_name(gid) }
      out << "Groups: #{groups.join(', ')}"
      out << "Home folder: #{@home ? '~' : 'unknown'}"
      out << "umask: #{format('%04o', File.umask)}"
    end

    def space_facts(out, collection)
      unless @home
        collection.problem('free space unknown: no home folder')
        return
      end
      result = Command.run(['df', '-P', '-k', '--', @home])
      row = Text.clean(result.out).lines[1].to_s.split
      if result.status != 0 || row.size < 6
        collection.problem("free space unknown: #{@redact.line(Probe.command_problem(result))}")
        return
      end
      mount_point = row[5..-1].join(' ')
      free = "#{Text.bytes(row[3].to_i * 1024)} of #{Text.bytes(row[1].to_i * 1024)}"
      out << "Free space in ~: #{free} (#{row[4]} used), mounted at #{@redact.path(mount_point)} " \
             "(#{mount_type(mount_point)})"
      collection.highlight("Free space in ~: #{free}")
    end

    def mount_type(mount_point)
      (Probe.read_small('/proc/self/mounts', 1024 * 1024) || '').each_line do |row|
        fields = row.split
        return Text.clean(fields[2]) if fields[1] && fields[1].gsub('\040', ' ') == mount_point
      end
      'type unknown'
    end
  end

  # A folder the report describes: label, path, and how deep its contents are listed (0: none).
  Root = Struct.new(:label, :path, :depth)

  # The product's folders: those the repairs work on and those under the XDG homes. Names, sizes,
  # owners, modes and access-control entries; never contents. Remembers the status of what it lists,
  # for the search for log files.
  class FolderCollector
    PRODUCT_NAME = /\A(?:keyloft|vantlesoft)/i.freeze
    KNOWN_NAMES = ['Keyloft', 'Keyloft 4', 'keyloft', 'keyloft4', 'Vantlesoft', 'vantlesoft'].freeze
    XDG_HOMES = [%w[XDG_CONFIG_HOME .config config], %w[XDG_DATA_HOME .local/share data],
                 %w[XDG_CACHE_HOME .cache cache], %w[XDG_STATE_HOME .local/state state]].freeze
    TYPES = { 'directory' => 'd', 'link' => 'l', 'characterSpecial' => 'c', 'blockSpecial' => 'b',
              'fifo' => 'p', 'socket' => 's' }.freeze

    # {path => File::Stat} of every entry listed.
    attr_reader :stats

    def initialize(home, redact)
      @home = home
      @redact = redact
      @stats = {}
      @listed_total = 0
    end

    # The product's folders whose contents are listed (and searched for logs): existing folders,
    # never a link that leads out of the home folder.
    def product_folders
      return [] unless @home

      roots.select { |root| root.depth.positive? && File.directory?(root.path) && !leads_out?(root.path) }
           .map(&:path)
    end

    def call(collection)
      out = collection.file('folders.txt', Bounds::FILE_BYTES['folders.txt'])
      out << 'Folders of Keyloft and of the places the repairs work on. Names and sizes only: file ' \
             'contents are never included.'
      unless @home
        collection.problem('no home folder: HOME is not set and the user has no password entry')
        return
      end
      roots.each do |root|
        out << ''
        describe_root(root, out, collection)
      end
      repair_items(out, collection)
    end

    private

    def roots
      @roots ||= all_roots
    end

    def all_roots
      library = File.join(@home, 'Library')
      support = File.join(library, 'Application Support', 'Keyloft')
      list = [Root.new('Home folder', @home, 0), Root.new('Library folder', library, 0),
              Root.new('Keyloft support folder (folder repair)', support, 8),
              Root.new('Scripting additions (folder repair)', File.join(library, 'ScriptingAdditions'), 3),
              Root.new('Launch agents (folder repair)', File.join(library, 'LaunchAgents'), 1),
              Root.new('Service manager overrides (extended attributes repair)',
                       "/var/db/launchd.db/com.apple.launchd.peruser.#{Process.uid}/overrides.plist", 0)]
      XDG_HOMES.each do |variable, fallback, kind|
        base = Places.xdg(variable, fallback, @home)
        list << Root.new("XDG #{kind} home", base, 0)
        product_entries(base).each do |path|
          list << Root.new("Keyloft #{kind} folder \"#{@redact.name(File.basename(path))}\"", path, 8)
        end
      end
      list
    end

    # The product's folders in an XDG home: the usual names, looked up directly, and any other name
    # starting with the product's or the maker's name among the first names of the folder.
    def product_entries(base)
      found = KNOWN_NAMES.map { |name| File.join(base, name) }.select { |path| exists?(path) }
      begin
        each_name(base, Bounds::XDG_NAMES_READ) do |name|
          found << File.join(base, name) if Text.match?(name, PRODUCT_NAME)
        end
      rescue SystemCallError
        nil
      end
      found.uniq.sort
    end

    def exists?(path)
      File.lstat(path)
      true
    rescue SystemCallError
      false
    end

    # Yields at most limit names of a directory (without "." and ".."); answers true when names were
    # left unread.
    def each_name(dir, limit)
      count = 0
      Dir.open(dir) do |handle|
        handle.each do |name|
          next if name == '.' || name == '..'
          return true if count >= limit

          count += 1
          yield name
        end
      end
      false
    end

    # A root that is a symbolic link is shown as one and its target described (the repairs follow it),
    # unless it leads out of the home folder: then what it leads to belongs to someone else and is
    # not looked at. Links further down are never followed.
    def describe_root(root, out, collection)
      out << "== #{root.label}: #{@redact.path(root.path)}"
      stat = File.lstat(root.path)
      out << "   #{entry_line(stat)}#{link_target(stat, root.path)}"
      if stat.symlink? && root.depth.positive? && leads_out?(root.path)
        out << '   a link out of the home folder: not followed'
        collection.highlight("#{root.label}: a link out of the home folder, not followed")
        return
      end
      if stat.symlink?
        stat = File.stat(root.path)
        out << "   #{entry_line(stat)}  (the link's target)"
      end
      return unless root.depth.positive? || stat.file?

      tally = list_tree(root, out, collection) if stat.directory? && root.depth.positive?
      @acl_lines = 0
      access_control(root, tally ? tally[:paths] : [], out, collection)
      summarize(root, tally, collection) if tally
    rescue Errno::ENOENT, Errno::ENOTDIR
      out << '   does not exist'
      collection.highlight("#{root.label}: does not exist") if root.depth.positive?
    rescue SystemCallError => e
      out << "   ! cannot be examined: #{Text.reason(e)}"
      collection.problem("#{@redact.path(root.path)} cannot be examined: #{Text.reason(e)}")
    end

    # The single files the repairs name, whose absence changes what a repair reports.
    def repair_items(out, collection)
      agents = File.join(@home, 'Library', 'LaunchAgents')
      additions = File.join(@home, 'Library', 'ScriptingAdditions')
      items = [['Launch agent', File.join(agents, 'com.vantlesoft.KeyloftAgent.plist')],
               ['Scripting addition', File.join(additions, 'Keyloft Addition.osax')],
               ['Scripting addition', File.join(additions, 'Keyloft Addition Leopard.osax')]]
      out << ''
      out << '== Items the folder repair names'
      items.each do |label, path|
        text = "#{label} #{File.basename(path)}: #{item_state(path)}"
        out << "   #{text}"
        collection.highlight(text)
      end
    end

    def item_state(path)
      stat = File.lstat(path)
      "present (#{mode_string(stat)}, #{Probe.user_name(stat.uid)}:#{Probe.group_name(stat.gid)})"
    rescue Errno::ENOENT, Errno::ENOTDIR
      'missing'
    rescue SystemCallError => e
      "cannot be examined: #{Text.reason(e)}"
    end

    def summarize(root, tally, collection)
      text = "#{root.label}: entries listed: #{tally[:listed]}"
      user = Probe.user_name(Process.uid)
      text += "; not owned by #{user}: #{tally[:foreign]}" if tally[:foreign].positive?
      text += "; without owner read and write: #{tally[:locked]}" if tally[:locked].positive?
      collection.highlight(text)
    end

    # A symbolic link whose target lies outside the home folder and outside the folder holding it.
    def leads_out?(path)
      return false unless File.lstat(path).symlink?

      target = File.realpath(path)
      [@home, File.dirname(path)].none? { |folder| inside?(target, real(folder)) }
    rescue SystemCallError
      false
    end

    def real(path)
      File.realpath(path)
    rescue SystemCallError
      path
    end

    def inside?(path, folder)
      path == folder || path.start_with?(folder == '/' ? '/' : "#{folder}/")
    end

    # Lists each folder's entries, then descends into its subfolders (alphabetically), up to the
    # root's depth and the entry limits. Symbolic links are shown, never followed. Answers counts of
    # entries listed, owned by someone else, and lacking owner read/write.
    def list_tree(root, out, collection)
      tally = { listed: 0, foreign: 0, locked: 0, paths: [] }
      stack = [['', 1]]
      until stack.empty?
        relative, depth = stack.pop
        subfolders = []
        names = read_children(root.path, relative, out, collection)
        children = names.first(room(tally)).map { |name| relative.empty? ? name : File.join(relative, name) }
        shown = @redact.names(children)
        names.each_index do |index|
          if limit_reached?(tally)
            left_out(root, relative, names, index, (stack.map(&:first) + subfolders).sort, out, collection)
            return tally
          end

          child = children[index]
          stat = list_entry(root.path, child, shown[index], out, collection)
          count(stat, tally)
          tally[:paths] << File.join(root.path, child) if stat && !stat.symlink?
          subfolders << child if stat && stat.directory? && depth < root.depth
        end
        subfolders.reverse_each { |child| stack << [child, depth + 1] }
      end
      tally
    end

    def limit_reached?(tally)
      room(tally) <= 0
    end

    # How many more entries may be listed.
    def room(tally)
      [Bounds::FOLDER_ENTRIES - tally[:listed], Bounds::TOTAL_ENTRIES - @listed_total].min
    end

    # Says exactly what the entry limits left out: how many entries of the folder the listing stopped
    # in were listed, and which folders were not listed at all.
    def left_out(root, relative, names, listed, folders, out, collection)
      folder = @redact.path(relative.empty? ? root.path : File.join(root.path, relative))
      total = "#{Text.count(names.size)}#{names.size >= Bounds::NAMES_READ_PER_FOLDER ? ' or more' : ''}"
      limits = "at most #{Text.count(Bounds::FOLDER_ENTRIES)} per folder and #{Text.count(Bounds::TOTAL_ENTRIES)} in all"
      out << "   ... #{total} entries in #{folder}/, #{Text.count(listed)} listed (#{limits})"
      collection.note("#{total} entries in #{folder}/, #{Text.count(listed)} listed (#{limits})")
      return if folders.empty?

      shown = folders.first(5).map { |child| "#{@redact.name(child)}/" }.join(', ')
      more = folders.size > 5 ? " and #{Text.count(folders.size - 5)} more" : ''
      out << "   ... folders not listed in #{@redact.path(root.path)}: #{shown}#{more}"
      counted = "#{Text.count(folders.size)} folder#{folders.size == 1 ? '' : 's'}"
      collection.note("#{counted} of #{@redact.path(root.path)} not listed: #{shown}#{more}")
    end

    def count(stat, tally)
      tally[:listed] += 1
      @listed_total += 1
      return unless stat && !stat.symlink?

      tally[:foreign] += 1 if stat.uid != Process.uid
      tally[:locked] += 1 if stat.mode & 0o600 != 0o600
    end

    def read_children(base, relative, out, collection)
      names = []
      path = relative.empty? ? base : File.join(base, relative)
      more = each_name(path, Bounds::NAMES_READ_PER_FOLDER) { |name| names << name }
      if more
        text = "#{@redact.path(path)}/ holds more than #{Text.count(Bounds::NAMES_READ_PER_FOLDER)} entries; " \
               'only that many were read'
        out << "   ... #{text}"
        collection.note(text)
      end
      names.sort
    rescue SystemCallError => e
      out << "   ! cannot read #{@redact.name(relative.empty? ? '.' : "#{relative}/")}: #{Text.reason(e)}"
      collection.problem("#{@redact.path(path)} cannot be read: #{Text.reason(e)}")
      []
    end

    # shown: the relative path, redacted.
    def list_entry(base, relative, shown, out, collection)
      path = File.join(base, relative)
      stat = File.lstat(path)
      @stats[path] = stat
      out << "   #{entry_line(stat)}  #{shown}#{stat.directory? ? '/' : ''}#{link_target(stat, path)}"
      stat
    rescue SystemCallError => e
      out << "   ! #{shown}: #{Text.reason(e)}"
      collection.problem("#{@redact.path(path)} cannot be examined: #{Text.reason(e)}")
      nil
    end

    def entry_line(stat)
      format('%s  %s:%s  %12d  %s', mode_string(stat), Probe.user_name(stat.uid), Probe.group_name(stat.gid),
             stat.size, stat.mtime.strftime('%Y-%m-%d %H:%M'))
    end

    def link_target(stat, path)
      stat.symlink? ? " -> #{@redact.name(File.readlink(path))}" : ''
    rescue SystemCallError
      ' -> ?'
    end

    def mode_string(stat)
      mode = stat.mode
      bits = %w[r w x r w x r w x].each_with_index.map { |char, index| mode[8 - index] == 1 ? char : '-' }
      special(bits, 2, mode[11] == 1, 's')
      special(bits, 5, mode[10] == 1, 's')
      special(bits, 8, mode[9] == 1, 't')
      format('%04o %s%s', mode & 0o7777, TYPES.fetch(stat.ftype, '-'), bits.join)
    end

    def special(bits, index, set, char)
      bits[index] = bits[index] == 'x' ? char : char.upcase if set
    end

    # The access-control entries of the root and of the entries listed under it (never of more, so a
    # huge folder costs no more than its listing); for a listed folder only entries beyond the mode bits.
    def access_control(root, paths, out, collection)
      unless Command.find('getfacl')
        out << '   access control entries: getfacl is not installed'
        return
      end
      options = root.depth.positive? ? %w[getfacl -p -s --] : %w[getfacl -p --]
      out << "   access control entries#{root.depth.positive? ? ' beyond the mode bits' : ''}:"
      failures = ([root.path] + paths).each_slice(200).map { |chunk| getfacl(options + chunk, out) }.compact
      out << '     none' if failures.empty? && @acl_lines.zero?
      return if failures.empty?

      reason = @redact.line(failures.first)
      out << "     ! getfacl: #{reason}"
      collection.problem("access control entries of #{@redact.path(root.path)} incomplete: #{reason}")
    end

    # Runs one getfacl and copies its lines; answers why it failed, or nil.
    def getfacl(arguments, out)
      result = Command.run(arguments, limit: 64 * 1024)
      Text.clean(result.out).each_line do |row|
        next if row.strip.empty? && @acl_lines.zero?

        @acl_lines += 1
        out << "     #{@redact.line(row.chomp)}"
      end
      result.status == 0 ? nil : Probe.command_problem(result)
    end
  end

  # The product's running processes, from /proc: program, state and size, never their arguments.
  class ProcessCollector
    PRODUCT_PROGRAM = /keyloft|vantle/i.freeze

    def initialize(redact)
      @redact = redact
    end

    def call(collection)
      out = collection.file('processes.txt', Bounds::FILE_BYTES['processes.txt'])
      out << 'Running Keyloft processes (program and state only; arguments are never included).'
      @clock_ticks = Etc.sysconf(Etc::SC_CLK_TCK) || 100
      @uptime = (Probe.first_line('/proc/uptime') || '0').split.first.to_f
      found = 0
      Dir.open('/proc') do |proc_dir|
        proc_dir.each do |pid|
          next unless pid =~ /\A\d+\z/ && pid.to_i != Process.pid

          facts = product_process(pid)
          next unless facts
          if found >= Bounds::PROCESSES
            collection.note("more than #{Bounds::PROCESSES} Keyloft processes; the rest are not listed")
            break
          end

          found += 1
          out << process_line(pid, facts)
        end
      end
      out << '(none)' if found.zero?
      collection.highlight("Keyloft processes running: #{found}")
    end

    private

    def product_process(pid)
      comm = (Probe.first_line("/proc/#{pid}/comm") || '').strip
      exe = begin
        File.readlink("/proc/#{pid}/exe")
      rescue SystemCallError
        nil
      end
      argv0 = (Probe.read_small("/proc/#{pid}/cmdline", 4096) || '').split("\0").first.to_s
      names = [comm, File.basename(exe.to_s), File.basename(argv0)]
      return nil unless names.any? { |name| Text.match?(name, PRODUCT_PROGRAM) }

      { comm: comm, exe: exe, status: Probe.read_small("/proc/#{pid}/status") || '',
        stat: Probe.first_line("/proc/#{pid}/stat") || '' }
    end

    def process_line(pid, facts)
      status = {}
      facts[:status].each_line do |row|
        key, value = row.split(':', 2)
        status[key] = value.to_s.strip if %w[State PPid Uid VmRSS Threads].include?(key)
      end
      program = facts[:exe] ? @redact.path(facts[:exe]) : "(#{@redact.name(facts[:comm])})"
      "pid #{pid}  ppid #{status['PPid']}  user #{Probe.user_name(status['Uid'].to_s.split.first.to_i)}  " \
        "state #{status['State']}  rss #{status['VmRSS'] || '-'}  threads #{status['Threads']}  " \
        "running #{running_time(facts[:stat])}  #{program}"
    end

    def running_time(stat_line)
      started = stat_line.sub(/\A.*\) /m, '').split[19].to_i / @clock_ticks.to_f
      @uptime.positive? && started.positive? ? "#{(@uptime - started).round} s" : 'unknown'
    end
  end

  # The product's log files, found by a walk through its folders of its own (the listing's limits
  # never hide a log): shallow folders first, links never followed, within a budget of names looked at.
  class LogSearch
    # Matched against the name's bytes: a name need not be UTF-8.
    LOG_NAME = /\.log(?:\.\d+|\.old)?\z/in.freeze

    # folders: the product folders; stats: {path => File::Stat} already known from the listing.
    def initialize(folders, stats)
      @folders = folders
      @stats = stats
    end

    # Answers [[path, modification time, path relative to its product folder], ...] and a note on
    # what the budget left unsearched, or nil.
    def call
      found = []
      budget = Bounds::LOG_SEARCH_NAMES
      queue = @folders.map { |folder| [folder, '', 0] }
      until queue.empty?
        base, relative, depth = queue.shift
        budget = search(base, relative, depth, budget, queue, found)
        return [found, unsearched(queue)] if budget.negative?
      end
      [found, nil]
    end

    private

    # Looks at the names of one folder; answers the budget left (negative when it ran out).
    def search(base, relative, depth, budget, queue, found)
      folder = relative.empty? ? base : File.join(base, relative)
      # A folder with a link count of 2 holds no folders (on file systems that count them), so only
      # the names of its entries are needed, not their status.
      leaf = File.lstat(folder).nlink == 2
      names(folder).each do |name|
        return -1 if (budget -= 1).negative?

        log = name.b.match?(LOG_NAME)
        next if leaf && !log

        path = File.join(folder, name)
        stat = @stats[path] || File.lstat(path)
        child = relative.empty? ? name : File.join(relative, name)
        found << [path, stat.mtime, child] if log && stat.file?
        queue << [base, child, depth + 1] if stat.directory? && depth < Bounds::LOG_SEARCH_DEPTH
      rescue SystemCallError
        next
      end
      budget
    rescue SystemCallError
      budget
    end

    def names(folder)
      names = []
      Dir.open(folder) do |handle|
        handle.each do |name|
          next if name == '.' || name == '..'
          break if names.size >= Bounds::NAMES_READ_PER_FOLDER

          names << name
        end
      end
      names.sort
    end

    def unsearched(queue)
      "the search for log files stopped after #{Text.count(Bounds::LOG_SEARCH_NAMES)} names; " \
        "#{Text.count(queue.size + 1)} folders were not searched"
    end
  end

  # The end of a log file as lines that start where a line starts, decoded (UTF-8, or UTF-16 told by
  # its byte-order mark or its zero bytes).
  class LogTail
    # io: the open file, size: its size.
    def initialize(io, size)
      @io = io
      @size = size
    end

    # Answers [lines, a note for the reader or nil].
    def call
      @order = Redaction::Decoding.utf16_order(read(0, 4096))
      start = [@size - Bounds::LOG_TAIL_BYTES, 0].max
      start -= start % 2 if @order
      text = Redaction::Decoding.text(read(start, @size - start), @order)
      return [text.split("\n"), nil] if start.zero?

      feed = text.index("\n")
      return [text[(feed + 1)..-1].split("\n"), nil] if feed

      one_long_line(start)
    end

    private

    # No line feed in the tail: the last line is longer than the tail. Its start is read instead, so
    # that it is redacted from its beginning as one line; a start farther back than the search limit
    # leaves the line out.
    def one_long_line(start)
      line_start = line_start_before(start)
      unless line_start
        return [[], "its last line is longer than #{Text.bytes(Bounds::LOG_LINE_SEARCH_BYTES)} and was left out"]
      end

      text = Redaction::Decoding.text(read(line_start, Bounds::LOG_TAIL_BYTES), @order)
      [[text], 'its last line is longer than the part read; its start is shown']
    end

    # Where the line holding offset starts (after the line feed before it, or 0); nil when no line
    # feed lies within LOG_LINE_SEARCH_BYTES before it.
    def line_start_before(offset)
      feed = { le: "\n\0", be: "\0\n" }.fetch(@order, "\n").b
      limit = [offset - Bounds::LOG_LINE_SEARCH_BYTES, 0].max
      stop = offset
      while stop > limit
        from = [stop - 65_536, limit].max
        chunk = read(from, stop - from + feed.bytesize - 1)
        at = last_feed(chunk, feed, from)
        return from + at + feed.bytesize if at

        stop = from
      end
      limit.zero? ? 0 : nil
    end

    # The last feed in the chunk at a code unit boundary (even offsets in UTF-16).
    def last_feed(chunk, feed, from)
      at = chunk.rindex(feed)
      at = at.positive? ? chunk.rindex(feed, at - 1) : nil while at && @order && (from + at).odd?
      at
    end

    def read(offset, length)
      @io.seek(offset)
      @io.read(length).to_s
    end
  end

  # The last part of the product's own log files, each line redacted.
  class LogCollector
    # Names whose contents never enter the report, even when they look like logs.
    PRIVATE_NAME = /vault|keychain|secret|token|passw|credential|cookie|clipboard|\.key\b|\.pem\b|
                    \.db\b|\.sqlite|\bcore\b|\.dmp\b/ix.freeze

    # search: called when the collector runs, answers what LogSearch#call answers.
    def initialize(redact, search)
      @redact = redact
      @search = search
    end

    def call(collection)
      found, unsearched = @search.call
      collection.note(unsearched) if unsearched
      candidates = found.sort_by { |_, mtime, relative| [-mtime.to_f, relative] }
      return collection.skip('no Keyloft log files were found in the product folders') if candidates.empty?

      private_ones, readable = candidates.partition { |_, _, relative| Text.match?(relative, PRIVATE_NAME) }
      private_ones.each do |_, _, relative|
        collection.note("#{@redact.name(relative)} left out: its name suggests private data")
      end
      chosen = readable.first(Bounds::LOG_FILES)
      chosen.each_with_index { |(path, _, _), index| tail(path, index + 1, collection) }
      left = readable.size - chosen.size
      collection.note("#{left} older log files left out (at most #{Bounds::LOG_FILES})") if left.positive?
      collection.highlight("Keyloft log files included: #{chosen.size} of #{candidates.size} found")
    end

    # Lines redacted whole (with what the lines before them opened, such as a key block), then the
    # last LOG_LINES of them, each cut to LINE_CHARS: a cut never leaves half a secret unmasked.
    def self.redacted(redact, rows)
      redact.lines(rows).last(Bounds::LOG_LINES).map do |line|
        line.length <= Bounds::LINE_CHARS ? line : "#{line[0, Bounds::LINE_CHARS]} [line shortened]"
      end
    end

    private

    def tail(path, number, collection)
      safe_name = @redact.name(File.basename(path)).gsub(/[^A-Za-z0-9._-]/, '_')[0, 60]
      member = format('logs/%02d-%s.txt', number, safe_name)
      out = collection.file(member, Bounds::FILE_BYTES['log'])
      File.open(path, File::RDONLY | File::NONBLOCK) do |io|
        stat = io.stat
        raise Errno::EINVAL, 'not a regular file' unless stat.file?

        out << "# #{@redact.path(path)}: #{stat.size} bytes, " \
               "modified #{stat.mtime.strftime('%Y-%m-%d %H:%M:%S %z')}"
        rows, note = LogTail.new(io, stat.size).call
        lines = LogCollector.redacted(@redact, rows)
        out << "# the last #{lines.size} lines, passed through redaction#{note ? "; #{note}" : ''}"
        lines.each { |line| out << line }
      end
    rescue SystemCallError, IOError => e
      collection.problem("#{@redact.path(path)} could not be read: #{Text.reason(e)}")
    end
  end

  # Environment variables from a fixed list, values redacted; the rest only counted.
  class EnvironmentCollector
    NAMES = %w[
      LANG LANGUAGE LC_ALL LC_CTYPE LC_MESSAGES LC_TIME LC_NUMERIC TZ
      HOME USER LOGNAME SHELL PATH TMPDIR
      XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_SESSION_TYPE XDG_SESSION_CLASS DESKTOP_SESSION
      DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR
      XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_DATA_DIRS XDG_CONFIG_DIRS
      QT_QPA_PLATFORM QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_STYLE_OVERRIDE QT_QPA_PLATFORMTHEME
      GDK_BACKEND GTK_THEME GDK_SCALE BROWSER
      http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
      RUBYOPT RUBYLIB GEM_HOME GEM_PATH
      SUDO_ASKPASS F1 F2 F3 THEUSER
    ].freeze

    def initialize(redact)
      @redact = redact
    end

    def call(collection)
      out = collection.file('environment.txt', Bounds::FILE_BYTES['environment.txt'])
      out << 'Environment variables from a fixed list; all others are left out.'
      present = NAMES.select { |name| ENV.key?(name) }
      present.each do |name|
        value = @redact.environment(name, ENV[name].to_s)
        limit = Bounds::ENV_VALUE_CHARS
        value = "#{value[0, limit]} [value shortened]" if value.length > limit
        out << "#{name}=#{value}"
      end
      others = ENV.keys.size - present.size
      out << "(#{others} other variables not included)"
      collection.note("#{others} variables outside the list left out")
    end
  end

  # The tool's own lines in the system journal, redacted.
  class JournalCollector
    IDENTIFIERS = %w[keyloft-troubleshooting keyloft Keyloft].freeze

    def initialize(redact)
      @redact = redact
    end

    def call(collection)
      return collection.skip('journalctl is not installed') unless Command.find('journalctl')

      out = collection.file('journal.txt', Bounds::FILE_BYTES['journal.txt'])

      arguments = %w[journalctl --no-pager -q -o short-iso -n 300]
      IDENTIFIERS.each { |name| arguments += ['-t', name] }
      result = Command.run(arguments, seconds: 6)
      lines = LogCollector.redacted(@redact, Redaction::Decoding.text(result.out).split("\n"))
      out << "System log lines of the Keyloft programs (the last #{lines.size}, passed through redaction)"
      lines.each { |line| out << line }
      return if result.status == 0

      collection.problem("journalctl: #{@redact.line(Probe.command_problem(result))}")
    end
  end

  # ---------------------------------------------------------------------------------------------------
  # The run

  class Run
    def initialize(arguments)
      @bundle_path = bundle_argument(arguments)
      @started = Time.now
      @home = Places.home
      @redact = Redaction::Redactor.new(@home, Places.database_home)
    end

    # Answers the exit status. A signal (SignalException) is passed on after the run's own files are
    # removed, so that the process still dies by it.
    def call
      folder = ReportFolder.new(Places.report_folder(Places.env_home))
      folder.create
      path = nil
      begin
        @stale_parts = folder.remove_stale_parts
        path = folder.write(report_base_name, archive(collect))
        print_path(path)
      rescue StandardError, SignalException
        folder.remove(path) if path
        folder.undo_create
        raise
      end
      0
    rescue ReportError => e
      fail_with(e.message)
    rescue StandardError => e
      fail_with("The diagnostics script failed unexpectedly: #{e.class}: #{Text.reason(e)}")
    end

    private

    def bundle_argument(arguments)
      given = arguments.find { |argument| argument.start_with?('BUNDLE_PATH=') }
      return nil unless given

      value = given.sub('BUNDLE_PATH=', '')
      value.empty? ? nil : value
    end

    def report_base_name
      "#{REPORT_PREFIX} #{@started.strftime('%Y-%m-%d %H-%M-%S')}"
    end

    # Each collector with its name, in the order they run.
    def collectors
      folders = FolderCollector.new(@home, @redact)
      [['tool', ToolCollector.new(@bundle_path, @redact)],
       ['system', SystemCollector.new(@home, @redact, @started)],
       ['folders', folders],
       ['processes', ProcessCollector.new(@redact)],
       ['logs', LogCollector.new(@redact, -> { LogSearch.new(folders.product_folders, folders.stats).call })],
       ['environment', EnvironmentCollector.new(@redact)],
       ['journal', JournalCollector.new(@redact)]]
    end

    def collect
      collectors.map { |name, work| run_collector(name, Bounds::COLLECTOR_SECONDS.fetch(name), work) }
    end

    def run_collector(name, seconds, work)
      collection = Collection.new(name)
      began = Process.clock_gettime(Process::CLOCK_MONOTONIC)
      begin
        Timeout.timeout(seconds) { work.call(collection) }
        collection.outcome = collection.finished_outcome
      rescue Timeout::Error
        collection.outcome = 'timed out'
        collection.note("stopped after #{seconds} s; what it gathered until then is kept")
      rescue StandardError => e
        collection.outcome = 'failed'
        collection.note("#{e.class}: #{@redact.line(Text.reason(e))}")
      end
      collection.note_truncations
      collection.duration = Process.clock_gettime(Process::CLOCK_MONOTONIC) - began
      collection
    end

    def archive(collections)
      members = {}
      collections.each { |collection| collection.files.each { |member, text| members[member] = text.to_s } }
      members['summary.txt'] = summary(collections)
      zip = ZipWriter.new(@started)
      members.each { |member, text| zip.add(member, text) }
      zip.add('manifest.json', manifest(collections, members))
      zip.bytes
    end

    def manifest(collections, members)
      document = {
        'format' => 1,
        'generator' => "#{PROGRAM} #{SCRIPT_VERSION}",
        'created' => @started.strftime('%Y-%m-%dT%H:%M:%S%z'),
        'bundle_path' => @bundle_path ? @redact.path(@bundle_path) : nil,
        'ruby' => RUBY_VERSION,
        'collectors' => collections.map { |collection| collector_entry(collection) },
        'files' => members.map do |member, text|
          { 'name' => member, 'size' => text.bytesize, 'sha256' => Digest::SHA256.hexdigest(text) }
        end
      }
      "#{JSON.pretty_generate(document)}\n"
    end

    def collector_entry(collection)
      { 'name' => collection.name, 'outcome' => collection.outcome,
        'duration_seconds' => collection.duration.round(3), 'files' => collection.files.keys,
        'notes' => collection.notes.map { |note| Text.clean(note) } }
    end

    def summary(collections)
      lines = ["Keyloft 4 diagnostics report, #{@started.strftime('%Y-%m-%d %H:%M:%S %z')}",
               "Made by #{PROGRAM} #{SCRIPT_VERSION} with Ruby #{RUBY_VERSION}.", '', 'At a glance:']
      collections.each { |collection| collection.highlights.each { |text| lines << "  #{Text.clean(text)}" } }
      if @stale_parts.to_i.positive?
        lines << "  Unfinished report files of an earlier, interrupted run removed: #{@stale_parts}"
      end
      lines.concat(['', 'What was gathered (collector, outcome, time):'])
      collections.each do |collection|
        lines << format('  %-12s %-10s %8s', collection.name, collection.outcome,
                        Text.seconds(collection.duration))
        collection.notes.first(10).each { |note| lines << "      #{Text.clean(note)}" }
      end
      lines.concat(['', 'Never included: vault, key and database files, other file contents except the',
                    'last part of Keyloft log files, the clipboard, core dumps, program arguments, and',
                    'environment variables outside a fixed list. Log lines, environment values, command',
                    'output and file names are redacted (credentials in URLs, query, cookie and',
                    'authorization values, values of secret-sounding keys, known tokens, key blocks, card',
                    'numbers and random-looking strings masked; control characters escaped); the home',
                    'folder is shown as "~".',
                    '', 'manifest.json lists every file of this report with its size and SHA-256.'])
      "#{lines.join("\n")}\n"
    end

    def print_path(path)
      $stdout.puts(path)
      $stdout.flush
    rescue SystemCallError, IOError
      nil
    end

    def fail_with(message)
      warn("#{PROGRAM}: #{message}")
      1
    end
  end
end

if $PROGRAM_NAME == __FILE__
  # A write beyond a file-size limit must fail as an error (and clean up), not kill the process.
  Signal.trap('XFSZ', 'IGNORE') if Signal.list.key?('XFSZ')
  # The tool stops a report the user no longer wants with SIGTERM to the script's process group: the
  # signal becomes an exception, Run#call removes the run's files, and the process dies by the signal.
  %w[TERM INT HUP].each { |name| Signal.trap(name) { raise SignalException, name } }
  exit(Vantletools::Run.new(ARGV).call)
end
