# frozen_string_literal: true
#
# Units of the diagnostics script around redaction: where a log's tail starts, how the log search
# finds what the listing's limits hide, links out of the home folder, and a run stopped by a signal.

require_relative 'helper'
require 'fileutils'
require 'tmpdir'

load File.join(SCRIPTS, 'vantletools.rb')

class TestScript < Minitest::Test
  include LeakCheck
  Bounds = Vantletools::Bounds

  def setup
    @dir = Dir.mktmpdir
  end

  def teardown
    FileUtils.rm_rf(@dir)
  end

  def write(relative, bytes)
    path = File.join(@dir, relative)
    FileUtils.mkdir_p(File.dirname(path))
    File.binwrite(path, bytes)
    path
  end

  def tail_of(path)
    File.open(path, 'rb') { |io| Vantletools::LogTail.new(io, io.size).call }
  end

  # The tail starts at a line start (UTF-8 and UTF-16, whatever byte the read starts at); a last line
  # longer than the tail is read from its own start and redacted as one line before it is cut.
  def test_a_tail_starts_where_a_line_starts
    filler = "x#{'y' * 98}\n" * 3000
    rows, note = tail_of(write('a.log', "#{filler}token=LateSecret1\nlast line\n"))
    assert_nil note
    assert_equal ['token=LateSecret1', 'last line'], rows.last(2)
    assert(rows.all? { |row| row.start_with?('x', 'token', 'last') })

    utf16 = "\uFEFF#{filler}password=Utf16Secret2\n".encode('UTF-16LE').b
    [utf16, "#{utf16}\n\0".b, "Z#{utf16}"].each do |bytes|
      rows, = tail_of(write('b.log', bytes))
      assert(rows.all? { |row| row.valid_encoding? && row.match?(/\A(?:xy*|password=Utf16Secret2|)\z/) }, rows.last(2).inspect)
    end

    long = "#{filler}password=Cut#{'Q' * Bounds::LOG_TAIL_BYTES}Tail3 and more"
    rows, note = tail_of(write('c.log', long))
    assert_equal 1, rows.size
    assert rows.first.start_with?('password=CutQQ')
    assert_match(/longer than the part read/, note)
    lines = Vantletools::LogCollector.redacted(Vantletools::Redaction::Redactor.new(@dir), rows)
    assert_equal ['password=[REDACTED]'], lines
  end

  # Redacted whole, then cut: a secret at the cut leaves nothing behind.
  def test_lines_are_redacted_before_they_are_cut
    secret = 'x7F7p4lr3Y425j02gwyft3lbKMxPWTUR6Gvq8ByyvZBgOg89o7LhHZwCy8zbrUVQ'
    row = "#{'w ' * ((Bounds::LINE_CHARS - 20) / 2)}#{secret}"
    assert_operator row.index(secret), :<, Bounds::LINE_CHARS
    assert_operator row.length, :>, Bounds::LINE_CHARS
    line, = Vantletools::LogCollector.redacted(Vantletools::Redaction::Redactor.new(@dir), [row])
    assert_gone(line, row, secret)
  end

  # A crowded folder sorting first uses up the listing; the search still finds the logs behind it,
  # and never follows a link.
  def test_the_log_search_finds_what_the_listing_leaves_out
    product = File.join(@dir, 'Keyloft')
    1500.times { |index| write(format('Keyloft/Crowd/item-%04d', index), '') }
    write('Keyloft/Logs/keyloft.log', "one\n")
    write('Keyloft/Logs/old/keyloft.log.1', "two\n")
    write('elsewhere/foreign.log', "three\n")
    File.symlink(File.join(@dir, 'elsewhere'), File.join(product, 'linked'))
    found, unsearched = Vantletools::LogSearch.new([product], {}).call
    assert_nil unsearched
    assert_equal ['Logs/keyloft.log', 'Logs/old/keyloft.log.1'], found.map(&:last).sort
  end

  # A product folder that is a link leading out of the home folder is neither listed nor searched;
  # one leading to a folder inside the home is.
  def test_links_out_of_the_home_folder_are_not_followed
    home = File.join(@dir, 'home')
    write('outside/foreign.log', "Foreign\n")
    write('home/KeyloftState/keyloft.log', "Own\n")
    FileUtils.mkdir_p(File.join(home, '.config'))
    FileUtils.mkdir_p(File.join(home, '.local', 'state'))
    File.symlink(File.join(@dir, 'outside'), File.join(home, '.config', 'Keyloft'))
    File.symlink('../../KeyloftState', File.join(home, '.local', 'state', 'Keyloft'))
    folders = Vantletools::FolderCollector.new(home, Vantletools::Redaction::Redactor.new(home))
    with_environment('XDG_CONFIG_HOME' => nil, 'XDG_STATE_HOME' => nil, 'XDG_DATA_HOME' => nil, 'XDG_CACHE_HOME' => nil) do
      assert_equal [File.join(home, '.local', 'state', 'Keyloft')], folders.product_folders
    end
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
    environment = { 'HOME' => home, 'XDG_DATA_HOME' => nil, 'XDG_CONFIG_HOME' => nil }
    Process.spawn(environment, RbConfig.ruby, '-r', pause, File.join(SCRIPTS, 'vantletools.rb'),
                  "BUNDLE_PATH=#{@dir}", pgroup: true, writer => writer, out: File::NULL, err: File::NULL)
  end

  def with_environment(values)
    saved = values.keys.to_h { |name| [name, ENV[name]] }
    values.each { |name, value| ENV[name] = value }
    yield
  ensure
    saved.each { |name, value| ENV[name] = value }
  end
end
