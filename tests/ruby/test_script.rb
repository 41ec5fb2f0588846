# frozen_string_literal: true
#
# The diagnostics script around redaction: its log units, and whole runs on a fake home in a process of
# their own.

require_relative 'helper'
require 'fileutils'
require 'json'
require 'open3'
require 'tmpdir'

load File.join(SCRIPTS, 'vantletools.rb')

class TestScript < Minitest::Test
  include LeakCheck
  Bounds = Vantletools::Bounds
  SUPPORT = 'home/Library/Application Support/Keyloft'
  REPORTS = 'home/.local/share/Keyloft 4/Diagnostics'
  NO_XDG = %w[XDG_DATA_HOME XDG_CONFIG_HOME XDG_STATE_HOME XDG_CACHE_HOME].to_h { |name| [name, nil] }.freeze

  def setup
    @home = File.join(@dir = Dir.mktmpdir, 'home')
    FileUtils.mkdir_p(@home)
  end

  def teardown
    FileUtils.rm_rf(@dir)
  end

  def write(relative, bytes = '')
    path = File.join(@dir, relative)
    FileUtils.mkdir_p(File.dirname(path))
    File.binwrite(path, bytes)
    path
  end

  def tail_of(path) = File.open(path, 'rb') { |io| Vantletools::LogTail.new(io, io.size).call }

  def redacted(rows) = Vantletools::LogCollector.redacted(Vantletools::Redaction::Redactor.new(@dir), rows)

  # Runs the script on the fake home in a process of its own: [status, out, err].
  def run_script(environment = {}, prefix: [], **options)
    environment = NO_XDG.merge('HOME' => @home, 'LC_ALL' => 'C.UTF-8').merge(environment)
    out, err, status = Open3.capture3(environment, *prefix, RbConfig.ruby, '-w', File.join(SCRIPTS, 'vantletools.rb'),
                                      "BUNDLE_PATH=#{@dir}", **options)
    [status, out, err]
  end

  # The report of a run that must succeed.
  def report(environment = {}, **options)
    status, out, err = run_script(environment, **options)
    assert status.success? && err.empty?, err
    out.strip
  end

  def member(zip, name) = IO.popen(['unzip', '-p', zip, name], &:read)

  # The outcomes (or another field) of the named collectors in the report's manifest.
  def collectors(zip, *names, field: 'outcome')
    entries = JSON.parse(member(zip, 'manifest.json'))['collectors']
    names.map { |name| entries.find { |entry| entry['name'] == name }[field] }
  end

  # The tail starts at a line start (UTF-8 and UTF-16, whatever byte the read starts at); a last line
  # longer than the tail is read from its own start and redacted as one line before it is cut.
  def test_a_tail_starts_where_a_line_starts
    filler = "x#{'y' * 98}\n" * 3000
    rows, note = tail_of(write('a.log', "#{filler}token=LateSecret1\nlast line\n"))
    assert_equal [nil, 'token=LateSecret1', 'last line'], [note, *rows.last(2)]
    assert(rows.all? { |row| row.start_with?('x', 'token', 'last') })

    utf16 = "\uFEFF#{filler}password=Utf16Secret2\n".encode('UTF-16LE').b
    [utf16, "#{utf16}\n\0".b, "Z#{utf16}"].each do |bytes|
      rows, = tail_of(write('b.log', bytes))
      assert(rows.all? { |row| row.valid_encoding? && row.match?(/\A(?:xy*|password=Utf16Secret2|)\z/) }, rows.last(2).inspect)
    end

    rows, note = tail_of(write('c.log', "#{filler}password=Cut#{'Q' * Bounds::LOG_TAIL_BYTES}Tail3 and more"))
    assert_equal [1, true], [rows.size, note.include?('longer than the part read')]
    assert_equal ['password=[REDACTED]'], redacted(rows)

    # Redacted whole, then cut: a password whose "@host" falls behind the cut leaves nothing behind.
    row = "#{'w ' * ((Bounds::LINE_CHARS - 12) / 2)}jo:Hunter2pw@sync.example.com:443"
    assert_nil leaked_piece(out = redacted([row]).first, row, 'Hunter2pw'), out
  end

  # A crowded folder that sorts before the logs uses up the listing, yet the logs are found (not through
  # a link), and the summary says exactly what the listing left out; a log larger than is read shows its end.
  # The hidden temporary file a killed earlier run left goes, and nothing else: not a young one (a run may
  # be writing it right now), not one of another name.
  def test_the_summary_names_what_the_bounds_and_a_killed_run_left
    names = ['.Keyloft 4 Diagnostics 2026-01-02 03-04-05.zip.4242-1a2b3c.part',
             '.Keyloft 4 Diagnostics 2026-01-02 03-04-06.zip.4243-4d5e6f.part', '.notes.part']
    names.each_with_index do |name, index|
      path = write(File.join(REPORTS, name), 'PK')
      File.utime(Time.now - 120, Time.now - 120, path) unless index == 1
    end
    write("#{SUPPORT}/Crowd/first")
    1500.times { |index| write(format("#{SUPPORT}/Crowd/item-%04d", index)) }
    write("#{SUPPORT}/Logs/keyloft.log", "FIRST-LINE-MARKER\n#{"2026-12-06 18:47:03 an ordinary line of a busy log\n" * 90_000}LAST\n")
    write("#{SUPPORT}/Logs/old/keyloft.log.1", "OLD-LOG\n")
    write('elsewhere/foreign.log', "FOREIGN-LOG\n")
    File.symlink(File.join(@dir, 'elsewhere'), File.join(@dir, SUPPORT, 'Logs', 'linked'))
    zip = report
    assert_includes member(zip, 'logs/*-keyloft.log.1.txt'), 'OLD-LOG'
    refute_includes member(zip, '*'), 'FOREIGN-LOG'
    summary = member(zip, 'summary.txt')
    assert_includes summary, '1,501 entries in ~/Library/Application Support/Keyloft/Crowd/, 998 listed'
    assert_includes summary, '1 folder of ~/Library/Application Support/Keyloft not listed: Logs/'
    assert_operator member(zip, 'folders.txt').scan('Crowd/item-').size, :<=, 1000
    tail = member(zip, 'logs/*-keyloft.log.txt')
    assert tail.end_with?("LAST\n") && !tail.include?('FIRST-LINE-MARKER') && tail.bytesize <= 384 * 1024, tail[-200..-1]
    assert_equal [names[1], names[2], File.basename(zip)].sort, Dir.children(File.join(@dir, REPORTS)).sort
    assert_includes summary, 'Unfinished report files of an earlier, interrupted run removed: 1'
  end

  # A run that cannot write its report says why in one line and leaves everything as it found it.
  def test_a_failed_run_leaves_nothing_behind
    {
      'Keyloft 4 exists and is not a folder' => [{}, {}, -> { write('home/.local/share/Keyloft 4', 'not a folder') }],
      'cannot be found' => [{ 'HOME' => nil }, {}],
      'is not an absolute path' => [{ 'XDG_DATA_HOME' => '.local/share' }, {}],
      'File name too long' => [{ 'XDG_DATA_HOME' => File.join(@home, 'fresh', 'x' * 300) }, {}],
      'could not be written' => [{}, { rlimit_fsize: 1024 }]
    }.each do |message, (environment, options, prepare)|
      write("#{SUPPORT}/Logs/keyloft.log", "2026-12-06 18:47:03 a line of the log\n" * 200)
      prepare&.call
      before = Dir.glob("#{@dir}/**/*", File::FNM_DOTMATCH).sort
      status, out, err = run_script(environment, **options)
      assert_equal [false, ''], [status.success?, out], message
      assert_match(/\Avantletools\.rb: [^\n]*#{message}[^\n]*\n\z/, err)
      assert_equal before, Dir.glob("#{@dir}/**/*", File::FNM_DOTMATCH).sort, message
      FileUtils.rm_rf(Dir.children(@dir).map { |name| File.join(@dir, name) })
      FileUtils.mkdir_p(@home)
    end
  end

  # Unreadable places are recorded, not fatal, and a umask that denies even the owner still leaves a
  # private report. Root reads everything, so as root the script runs as nobody.
  def test_unreadable_places_and_a_strict_umask
    write("#{SUPPORT}/Vaults/Personal.kvault", 'x')
    locked = [File.dirname(write("#{SUPPORT}/Locked/x")), write("#{SUPPORT}/Logs/keyloft.log", "line\n")]
    prefix = []
    if Process.euid.zero?
      FileUtils.chown_R(65_534, 65_534, @dir)
      prefix = %w[setpriv --reuid=65534 --regid=65534 --clear-groups]
    end
    File.chmod(0, *locked)
    zip = report({}, prefix: prefix, umask: 0o277)
    File.chmod(0o700, *locked)
    assert_equal %w[partial partial], collectors(zip, 'folders', 'logs')
    text = member(zip, '*')
    ['! cannot read Locked/: Permission denied', 'could not be read: Permission denied', 'Vaults/Personal.kvault']
      .each { |kept| assert_includes text, kept }
    modes = [File.join(@home, '.local/share/Keyloft 4'), File.dirname(zip), zip].map { |path| File.stat(path).mode & 0o777 }
    assert_equal [0o700, 0o700, 0o600], modes
  end

  # A helper that never ends is stopped at its time limit and killed; access-control lookups that take
  # almost as long each make the folder collector run out of time, keeping what it listed. The other
  # collectors still run and the report comes out.
  def test_stuck_helpers_are_cut_off_and_recorded
    ["#{SUPPORT}/Vaults/Personal.kvault", 'home/.config/Keyloft/a', 'home/.local/share/Keyloft/b', 'home/.cache/keyloft/c'].each { |path| write(path) }
    pid_file = File.join(@dir, 'helper.pid')
    { 'xdg-mime' => "echo $$ > '#{pid_file}'\nexec sleep 300\n", 'getfacl' => "exec sleep 4.5\n" }.each do |name, body|
      File.chmod(0o755, write("bin/#{name}", "#!/bin/sh\n#{body}"))
    end
    zip = report({ 'PATH' => "#{@dir}/bin:#{ENV.fetch('PATH')}" })
    assert_includes collectors(zip, 'tool', field: 'notes').first, 'xdg-mime was stopped after 3 s'
    assert_raises(Errno::ESRCH) { Process.kill(0, File.read(pid_file).to_i) }
    assert_equal ['timed out', 'ok'], collectors(zip, 'folders', 'environment')
    assert_includes member(zip, 'folders.txt'), 'Vaults/Personal.kvault'
  end

  # Stopped by a real signal while its hidden temporary file exists, a run removes it and the folders
  # it made, and dies by that signal.
  def test_a_signal_leaves_nothing_of_the_run
    %w[TERM INT HUP].each do |signal|
      home = File.join(@dir, signal)
      FileUtils.mkdir_p(home)
      reader, writer = IO.pipe
      pid = spawn_paused_run(home, writer)
      writer.close
      assert_equal 'written', reader.gets.to_s.chomp, "#{signal}: the run did not reach its temporary file"
      assert_equal 1, Dir.glob(File.join(home, '**', '.*.part'), File::FNM_DOTMATCH).size
      Process.kill(signal, -pid)
      _, status = Process.wait2(pid)
      assert_equal Signal.list.fetch(signal), status.termsig, "#{signal}: #{status.inspect}"
      assert_equal [], Dir.children(home), "#{signal}: the run left #{Dir.glob("#{home}/**/*", File::FNM_DOTMATCH)}"
    ensure
      reader&.close
    end
  end

  private

  # The script in a process group of its own, as the tool runs it, paused right after its hidden
  # temporary file is written (the pause, loaded before the script, is this test's only addition).
  def spawn_paused_run(home, writer)
    pause = write('pause.rb', <<~RUBY)
      module Vantletools
        class ReportFolder
          prepend(Module.new do
            def write_private(temporary, bytes)
              super
              IO.for_fd(#{writer.fileno}, autoclose: false).tap { |io| io.puts('written'); io.flush }
              sleep 60
            end
          end)
        end
      end
    RUBY
    Process.spawn(NO_XDG.merge('HOME' => home), RbConfig.ruby, '-r', pause, File.join(SCRIPTS, 'vantletools.rb'),
                  "BUNDLE_PATH=#{@dir}", pgroup: true, writer => writer, out: File::NULL, err: File::NULL)
  end
end
