# frozen_string_literal: true
#
# False positives of the report's redaction on real text of this machine: how many lines of the logs
# in /var/log, of the journal and of the packages' Debian changelogs it changes, and a sample of the
# changes. Most of the changelogs' changes are masked query values and git hashes; the sample shows
# the rest.
#
#   ruby bench/redaction-false-positives.rb [file ...]        (gzip files are read through zcat)

require File.expand_path('../KeyloftTroubleshooting/Scripts/redaction', __dir__)

Redaction = Vantletools::Redaction
redactor = Redaction::Redactor.new('/home/nobody-here')

sources = if ARGV.empty?
            { '/var/log (*.log, apt/*.log)' => Dir['/var/log/*.log', '/var/log/apt/*.log'].select { |f| File.readable?(f) },
              'the journal (journalctl -q)' => [:journal],
              'Debian changelogs (300 packages)' => Dir['/usr/share/doc/*/changelog.Debian.gz'].first(300) }
          else
            { 'the given files' => ARGV }
          end

def text_of(source)
  return IO.popen(%w[journalctl -q --no-pager -o short-iso -n 100000], err: File::NULL, &:read).to_s if source == :journal
  return IO.popen(['zcat', source], &:read).to_s if source.end_with?('.gz')

  File.binread(source)
rescue SystemCallError
  ''
end

sources.each do |label, files|
  total = changed = 0
  rest = []
  files.each do |source|
    rows = text_of(source).split("\n")
    redactor.lines(rows).each_with_index do |out, index|
      total += 1
      row = Redaction::Escaping.line(Redaction::Decoding.text(rows[index]).chomp("\r"))
      next if out == row

      changed += 1
      next if out.match?(/[?#&][^\s=]*=\[REDACTED\]/) || row.match?(/\h{32}/)

      rest << "    #{row[0, 110]}\n    => #{out[0, 110]}"
    end
  end
  share = total.zero? ? 0 : 100.0 * changed / total
  puts format('%-34s %8d lines, %5d changed (%.3f %%), %d not a query value or hash', label, total, changed, share,
              rest.size)
  puts rest.first(8)
end
