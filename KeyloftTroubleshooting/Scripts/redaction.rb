# frozen_string_literal: true
#
# Redaction for the Keyloft diagnostics report: every text that comes from outside the diagnostics
# script (log lines, the journal, environment values, command output, file names, link targets)
# passes through here before it enters the report.
#
# The report goes to a support desk, so it must never carry a secret. Redaction works in layers, and
# each layer would stop a secret on its own:
#
#  0. Input: bytes are decoded first (UTF-16 with or without a byte-order mark; bytes that are not
#     UTF-8 read as Windows-1252), control characters are shown escaped ("\n", "\x1B") so that no text
#     can forge a line, and the home folder becomes "~" in every spelling.
#  1. Structure: what has a known shape is reduced to its safe parts. URLs and "user:password@host"
#     keep scheme, host and port (the user information is masked whatever its characters); every query
#     value is masked; cookies keep their names; authorization values keep their scheme word.
#     Escaped text (percent-encoded, JSON or HTML escapes, escaped twice) is seen decoded by this layer
#     and the next, and masked where it was written.
#  2. Key and value: a small lexer finds a secret-sounding key in any spelling (snake, kebab, camel,
#     spaced, quoted, a command-line flag, a call, a subscript, several languages) followed by any
#     separator or linking word ("is", "set to"), and masks the whole value: a quoted value to its
#     closing quote, an unquoted one to the end of the line, a YAML block on the following, deeper
#     indented lines.
#  3. Shape: whatever the context, known token prefixes, JWTs, PEM and OpenSSH key blocks, card
#     numbers that pass the Luhn check, grouped codes (recovery codes, secret keys, TOTP seeds),
#     recovery phrases, and random-looking runs of 16 or more characters (entropy, character mix and
#     how little they read like words) are masked.
#
# Every pattern here runs in time linear in its input (no nested or overlapping repetition), so a
# hostile line costs no more per byte than an ordinary one.
#
# Plain Ruby with its standard library only.

require 'strscan'

module Vantletools
  module Redaction
    MASK = '[REDACTED]'

    # -------------------------------------------------------------------------------------------------
    # Bytes to text

    module Decoding
      WINDOWS_1252 = Encoding::Windows_1252
      UTF16_LE_BOM = "\xFF\xFE".b.freeze
      UTF16_BE_BOM = "\xFE\xFF".b.freeze

      module_function

      # Any bytes (or a string in any encoding) as valid UTF-8. order: :le, :be or nil (detect).
      def text(value, order = nil)
        bytes = value.to_s.b
        order ||= utf16_order(bytes)
        order ? from_utf16(bytes, order) : from_utf8(bytes)
      end

      # :le or :be when the bytes are UTF-16 (a byte-order mark, or the zero bytes that UTF-16 puts
      # beside every ASCII character), else nil.
      def utf16_order(bytes)
        bytes = bytes.to_s.b
        return :le if bytes.start_with?(UTF16_LE_BOM)
        return :be if bytes.start_with?(UTF16_BE_BOM)

        sample = bytes.byteslice(0, 4096)
        pairs = sample.bytesize / 2
        # Without a zero byte neither half of the pairs can be mostly zero (and most names have none).
        return nil if pairs < 2 || !sample.include?("\0")

        even = odd = 0
        pairs.times do |index|
          even += 1 if sample.getbyte(2 * index).zero?
          odd += 1 if sample.getbyte(2 * index + 1).zero?
        end
        return :le if odd * 3 > pairs && even * 20 < pairs
        return :be if even * 3 > pairs && odd * 20 < pairs

        nil
      end

      def from_utf16(bytes, order)
        bom = order == :le ? UTF16_LE_BOM : UTF16_BE_BOM
        bytes = bytes.byteslice(2..-1) if bytes.start_with?(bom)
        bytes = bytes.byteslice(0, bytes.bytesize - 1) if bytes.bytesize.odd?
        encoding = order == :le ? Encoding::UTF_16LE : Encoding::UTF_16BE
        bytes.force_encoding(encoding).encode(Encoding::UTF_8, invalid: :replace, undef: :replace,
                                                                replace: "\uFFFD")
      end

      # UTF-8 as it is; a byte that is not UTF-8 read as Windows-1252 (so "Pa\xDFwort" is still read as
      # "Paßwort"), or shown as "\xNN" where Windows-1252 has no character for it.
      def from_utf8(bytes)
        text = bytes.force_encoding(Encoding::UTF_8)
        return text if text.valid_encoding?

        text.scrub { |bad| bad.each_byte.map { |byte| windows_1252(byte) }.join }
      end

      def windows_1252(byte)
        [byte].pack('C').force_encoding(WINDOWS_1252).encode(Encoding::UTF_8)
      rescue EncodingError
        format('\\x%02X', byte)
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Control characters

    module Escaping
      # C0 and C1 controls, DEL, the Unicode line and paragraph separators, direction overrides and the
      # byte-order mark: everything that can break or reorder a line in an editor.
      CONTROLS = "\u0000-\u0008\u000A-\u001F\u007F-\u009F\u2028\u2029\u200E\u200F\u202A-\u202E" \
                 "\u2066-\u2069\uFEFF"
      IN_LINE = /[#{CONTROLS}]/.freeze
      IN_NAME = /[#{CONTROLS}\t]/.freeze
      IN_TEXT = /[#{CONTROLS.sub("\n", "\v")}]/.freeze
      NAMED = { "\n" => '\\n', "\r" => '\\r', "\t" => '\\t', "\e" => '\\e', "\0" => '\\0' }.freeze

      module_function

      # A line of text: every control character escaped, tabs kept.
      def line(text)
        text.match?(IN_LINE) ? text.gsub(IN_LINE) { |char| escaped(char) } : text
      end

      # A text of several lines: line feeds and tabs kept.
      def text(text)
        text.match?(IN_TEXT) ? text.gsub(IN_TEXT) { |char| escaped(char) } : text
      end

      # A name (file, link target, member): tabs escaped too.
      def name(text)
        text.match?(IN_NAME) ? text.gsub(IN_NAME) { |char| escaped(char) } : text
      end

      def escaped(char)
        NAMED.fetch(char) do
          char.ord < 0x100 ? format('\\x%02X', char.ord) : format('\\u%04X', char.ord)
        end
      end
    end

    # -------------------------------------------------------------------------------------------------
    # The home folder in every spelling

    class Home
      MAX_FORMS = 24
      # What may stand for a "/" between the parts of a path: itself, JSON's "\/", or "%2F".
      SLASH = '(?:\\\\?/|%2[Ff])'
      # Extra separators a path may carry: "//", "/./" and "/other/../" (a bounded number of them).
      FILLER = "(?:#{SLASH}|\\.#{SLASH}|[^/\\\\%\\s]{1,255}#{SLASH}\\.\\.#{SLASH}){0,16}"

      # home: the home folder as the product uses it (absolute), or nil.
      def initialize(home, database_home = nil)
        forms = spellings([home, database_home].compact)
        @needles = forms.map { |form| needle(form) }.uniq
        @pattern = forms.empty? ? nil : Regexp.new(forms.map { |form| form_pattern(form) }.join('|'))
      end

      # The text with every spelling of the home folder replaced by "~".
      def replace(text)
        return text unless @pattern
        return text unless text.include?('%') || @needles.any? { |needle| text.include?(needle) }

        text.gsub(@pattern, '~')
      end

      private

      # The given paths, each resolved through every symbolic link among its parents (one link at a
      # time and all at once), in both Unicode normal forms; longest first.
      def spellings(paths)
        forms = []
        paths.each do |path|
          path = path.to_s
          next unless path.start_with?('/')

          collect(normalize(path), forms, 0)
        end
        forms = forms.flat_map { |form| unicode_forms(form) }.uniq
        forms.reject { |form| form == '/' || form.empty? }.sort_by { |form| -form.length }.first(MAX_FORMS)
      end

      def collect(path, forms, depth)
        return if forms.include?(path) || forms.size >= MAX_FORMS

        forms << path
        real = realpath(path)
        forms << real if real && !forms.include?(real)
        return if depth >= 6

        parts = path.split('/').reject(&:empty?)
        parts.each_index do |index|
          prefix = "/#{parts[0..index].join('/')}"
          target = readlink(prefix)
          next unless target

          resolved = File.expand_path(target, File.dirname(prefix))
          rest = parts[(index + 1)..-1]
          collect(normalize(rest.empty? ? resolved : File.join(resolved, *rest)), forms, depth + 1)
        end
      end

      def normalize(path)
        File.expand_path(path).sub(%r{(?<=.)/+\z}, '')
      end

      def readlink(path)
        File.readlink(path)
      rescue SystemCallError, NotImplementedError
        nil
      end

      def realpath(path)
        File.realpath(path)
      rescue SystemCallError
        nil
      end

      def unicode_forms(form)
        text = Decoding.text(form)
        return [text] if text.ascii_only?

        [text, text.unicode_normalize(:nfc), text.unicode_normalize(:nfd)].uniq
      rescue ArgumentError, EncodingError
        [text].compact
      end

      # The home's last part as it would appear unescaped: a cheap test before the full pattern runs.
      def needle(form)
        last = form.split('/').last.to_s
        last.scan(/[\p{L}\p{N}]+/).max_by(&:length) || last
      end

      def form_pattern(form)
        parts = form.split('/').reject(&:empty?)
        body = parts.map { |part| part_pattern(part) }.join("#{SLASH}#{FILLER}")
        last = part_pattern(parts.last.to_s)
        # Not inside another name before it; a ".." back into the home after it; then no more of a name.
        "(?<![\\p{L}\\p{N}_~\\-]|[^/]\\.)#{SLASH}#{body}(?:#{SLASH}+\\.\\.#{SLASH}+#{last}){0,4}(?![\\p{L}\\p{N}_])"
      end

      # One part of the path: each character as itself (shell-escaped or not), percent-encoded, or as
      # a JSON \u escape.
      def part_pattern(part)
        part.each_char.map { |char| char_pattern(char) }.join
      end

      def char_pattern(char)
        percent = char.bytes.map { |byte| format('%%%s%s', hex_digit(byte >> 4), hex_digit(byte & 15)) }.join
        choices = ["\\\\?#{Regexp.escape(char)}", percent]
        choices << '\\+' if char == ' '
        choices << format('\\\\u%s', format('%04x', char.ord).each_char.map { |d| hex_class(d) }.join) if char.ord > 0x7F
        "(?:#{choices.join('|')})"
      end

      def hex_digit(value)
        hex_class(value.to_s(16))
      end

      def hex_class(digit)
        digit =~ /[a-f]/i ? "[#{digit.downcase}#{digit.upcase}]" : digit
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Layer 1: structure

    module Structure
      # A run of text that can hold a URL, "user:password@host", a query or a fragment.
      # Ends at a blank or a double quote only: a password may hold any other character.
      TOKEN = /(?<![^\s"])[^\s"@?#]*[@?#][^\s"]*/.freeze
      SCHEME = %r{\A([^A-Za-z]*?|.*?[^A-Za-z0-9+.\-])([A-Za-z][A-Za-z0-9+.\-]{0,30}:(?:\\?/){2})(.*)\z}m.freeze
      HOST_AFTER_AT = /\A[\p{L}\p{N}\[]/.freeze
      # "host.example.com:8080", "localhost:80", "[::1]:80": a host and port, not "user:7" of a password.
      HOST_PORT = /\A(?:[^:@]*\.[^:@]*|localhost|\[[0-9a-fA-F:.]+\]):\d{1,5}\z/.freeze
      NOT_CREDENTIALS = /\A(?:mailto|sips?|xmpp|tel|im|pres|urn|news):[^:]*\z/i.freeze
      # A user name, a ":" and something after it ("jo:pw", not "get(:").
      USER_COLON = /\A[^:]*[^:\s(\[{]:./m.freeze
      QUERY_NAME = /\A[\w.\-\[\]%$]{1,64}\z/.freeze
      # An authorization scheme word and the credentials after it.
      SCHEME_WORD = %r{(?<![\p{L}\p{N}_\-./])(Bearer|Basic|Digest|Negotiate|NTLM)([ \t]+)([A-Za-z0-9\-._~+/]+=*)}i.freeze
      SCHEMES = %w[bearer basic digest negotiate ntlm].freeze
      KNOWN_WORDS = /\A[a-z]{1,12}\z/.freeze
      # "https://maria:Correct Horse@host": a password with spaces, which no URL may hold unencoded.
      # "curl -u jo:hunter2", "--proxy-user jo:pw": the password after the user name.
      USER_FLAG = /((?<![^\s"'])(?:-u|-U|--user|--proxy-user)(?:[ \t]+|=)["']?[^\s:"']*:)[^\s"']+/.freeze
      SPACED_USER_INFO = %r{([A-Za-z][A-Za-z0-9+.\-]{0,30}://)[^\s/@:]+:[^\s@]*(?:[ \t][^\s@/]+){1,3}@(?=[\p{L}\p{N}\[])}.freeze

      module_function

      # schemes: whether the line holds one of SCHEMES (in any case).
      def call(line, schemes = true)
        if line.include?('-u') || line.include?('-U') || line.include?('user')
          line = line.gsub(USER_FLAG) { "#{Regexp.last_match(1)}#{MASK}" }
        end
        if line.include?('@') || line.include?('?') || line.include?('#')
          line = line.gsub(SPACED_USER_INFO) { "#{Regexp.last_match(1)}#{MASK}@" } if line.include?('@')
          line = line.gsub(TOKEN) { |token| token(token) }
        end
        schemes ? line.gsub(SCHEME_WORD) { scheme_word(Regexp.last_match) } : line
      end

      # A token with a scheme ("https://…", "https:\/\/…") or without one.
      def token(token)
        match = SCHEME.match(token) if token.include?('//')
        if match
          lead, scheme, rest = match.captures
          return lead + scheme + address(rest, true)
        end
        address(token, false)
      end

      # User information masked, then query and fragment values.
      def address(rest, with_scheme)
        kept, rest = credentials(rest, with_scheme)
        "#{kept}#{query_and_fragment(rest, with_scheme)}"
      end

      # Answers [the masked user information or the leading name kept, the rest]. The user information
      # ends at the last "@" of the token, so a password holding "@", "/", "?" or "#" is masked whole.
      def credentials(rest, with_scheme)
        at = rest.rindex('@')
        return ['', rest] unless at && rest[at + 1].to_s.match?(HOST_AFTER_AT)
        return ['', rest] unless with_scheme || rest.index(':').to_i.between?(1, at - 1)

        before = rest[0...at]
        return ['', rest] if before.empty? || before.include?(MASK)
        return with_scheme_credentials(rest, before, at) if with_scheme

        lead = leading_text(before)
        return ['', rest] unless lead.length < before.index(':') && before.match?(USER_COLON) && !before.match?(NOT_CREDENTIALS)

        ["#{lead}#{MASK}@", rest[(at + 1)..-1]]
      end

      # After a scheme: user information when the authority holds an "@", or a ":" that starts no port.
      def with_scheme_credentials(rest, before, at)
        head = before[%r{\A[^/?#]*}]
        return ['', rest] unless rest[%r{\A[^/?#]*}].include?('@') || (head.include?(':') && !head.match?(HOST_PORT))

        ["#{MASK}@", rest[(at + 1)..-1]]
      end

      # What stands before a user name without a scheme ("HTTPS_PROXY=", "<url>", "'"): up to the last
      # delimiter before the first ":".
      def leading_text(before)
        head = before[0...before.index(':')]
        cut = head.rindex(/[='"(\[{<>,;|]/)
        cut ? before[0..cut] : ''
      end

      # Without a scheme, "?" and "#" start a query or fragment only after a path and before a name
      # ("/cb?code=…", not "(?=…" or "#Setting=…").
      def query_and_fragment(rest, with_scheme)
        path, hash, fragment = rest.partition('#')
        path, question, query = path.partition('?')
        result = path.dup
        unless question.empty?
          result << question << (parameters?(path, query, with_scheme) ? parameters(query, with_scheme) : query)
        end
        unless hash.empty?
          named = fragment.include?('=') && parameters?(path, fragment, with_scheme)
          result << hash << (named ? parameters(fragment, true) : fragment)
        end
        result
      end

      def parameters?(before, after, with_scheme)
        return true if with_scheme

        before[-1].to_s.match?(%r{[\p{L}\p{N}/._%\-]}) && after.match?(/\A[\p{L}\p{N}_.\-\[\]%$]+=/)
      end

      # Every value masked, names kept; a part without "=" may be a secret's tail and is masked whole.
      def parameters(query, with_scheme)
        return query unless with_scheme || query.include?('=')

        query.split('&', -1).map { |part| parameter(part) }.join('&')
      end

      def parameter(part)
        return part if part.empty? || part == MASK

        at = part.index('=')
        return MASK unless at && part[0, at].match?(QUERY_NAME)

        at == part.length - 1 ? part : "#{part[0, at]}=#{MASK}"
      end

      # "Bearer <token>", "Basic <user:password in base64>", "Negotiate <blob>": the credentials masked
      # unless they are plainly a word ("Basic auth", "bearer token expired").
      def scheme_word(match)
        word, space, value = match.captures
        return match[0] if value == MASK || plain_word?(word, value)

        "#{word}#{space}#{MASK}"
      end

      def plain_word?(word, value)
        return true if value.match?(/\A\d+\z/)
        return value.match?(KNOWN_WORDS) unless word.casecmp?('basic')
        return false if value.unpack1('m').to_s.include?(':')

        value.length < 8 || !value.match?(/[0-9+\/=]/)
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Command lines

    # A logged command line hands secrets to programs in ways no key names: an option whose name says
    # nothing ("sshpass -p X", "mysql -pX", "openssl … -passin pass:X", "curl -u jo:X") or standard
    # input ("echo X | sudo -S …", "chpasswd <<< jo:X", "passwd --stdin jo <<EOF"). The programs that
    # take a secret so, and how, are known: the line is split into words as a shell splits it, and the
    # values of those options and what is fed to those programs are masked. Other programs' options
    # ("ssh -p 2222") stay.
    module CommandLine
      # How an option takes its value: :next (the next word, "--opt=X", or attached to a one-letter
      # option: "-pX"), :separate (the next word only), :attached (attached only: mysql's "-p db" asks
      # for the password and names a database). With a part of the value that is kept: :user
      # ("jo:X"), :percent ("jo%X"), :comma ("jo,X"), :source (only openssl's "pass:X" is a secret;
      # "env:VAR", "file:…" are not).
      MYSQL = { '-p' => [:attached] }.freeze
      LDAP = { '-w' => [:next] }.freeze
      MONGO = { '-p' => [:next] }.freeze
      SNMP = { '-A' => [:next], '-X' => [:next] }.freeze
      SMB = { '-U' => [:next, :percent], '--user' => [:next, :percent] }.freeze
      OPENSSL_SOURCE = [:separate, :source].freeze
      SEVEN_ZIP = { '-p' => [:attached] }.freeze
      KEYTOOL = %w[-storepass -keypass -srcstorepass -deststorepass -srckeypass -destkeypass -new]
                .to_h { |option| [option, [:separate]] }.freeze
      REGISTRY_LOGIN = { '-p' => [:next] }.freeze
      OPTIONS = {
        'sshpass' => { '-p' => [:next] },
        'zip' => { '-P' => [:next] }, 'unzip' => { '-P' => [:next] },
        '7z' => SEVEN_ZIP, '7za' => SEVEN_ZIP, '7zr' => SEVEN_ZIP, '7zz' => SEVEN_ZIP,
        'rar' => { '-p' => [:attached], '-hp' => [:attached] }, 'unrar' => { '-p' => [:attached] },
        'openssl' => { '-k' => [:separate], '-pass' => OPENSSL_SOURCE, '-passin' => OPENSSL_SOURCE,
                       '-passout' => OPENSSL_SOURCE },
        'ldappasswd' => { '-w' => [:next], '-a' => [:next], '-s' => [:next] },
        'redis-cli' => { '-a' => [:next] },
        'curl' => %w[-u --user -U --proxy-user].to_h { |option| [option, [:next, :user]] },
        'lftp' => { '-u' => [:next, :comma] },
        'sqlcmd' => { '-P' => [:next] }, 'bcp' => { '-P' => [:next] }, 'ipmitool' => { '-P' => [:next] },
        'ssh-keygen' => { '-N' => [:next], '-P' => [:next] },
        'keytool' => KEYTOOL,
        'useradd' => { '-p' => [:next] }, 'usermod' => { '-p' => [:next] },
        'xfreerdp' => { '/p:' => [:attached] }, 'wlfreerdp' => { '/p:' => [:attached] }
      }.merge(
        %w[mysql mysqldump mysqladmin mysqlimport mysqlcheck mysqlshow mysqlpump mariadb mariadb-dump
           mariadb-admin mariadb-import mariadb-check].to_h { |name| [name, MYSQL] },
        %w[ldapsearch ldapmodify ldapadd ldapdelete ldapwhoami ldapcompare ldapmodrdn ldapexop].to_h { |name| [name, LDAP] },
        %w[mongo mongosh mongodump mongorestore mongoexport mongoimport].to_h { |name| [name, MONGO] },
        %w[snmpwalk snmpbulkwalk snmpget snmpgetnext snmpbulkget snmpset snmptable snmptrap].to_h { |name| [name, SNMP] },
        %w[smbclient rpcclient smbcacls smbget].to_h { |name| [name, SMB] },
        %w[docker podman nerdctl helm buildah skopeo].to_h { |name| [name, REGISTRY_LOGIN] }
      ).freeze
      # Programs that take a secret as a plain word after their options: [what must be there (a
      # subcommand, or a one-letter option that may be bundled: "-b" in "-cb"), nil for nothing; the
      # first of the words after that which is the secret, :last for the last word]. Every word from
      # it on is masked: "htpasswd -b file jo X", "rabbitmqctl add_user jo X", "openssl passwd -6 X",
      # "wpa_passphrase MyNet X", "smbclient //host/share X" (the word after the share), a password
      # manager's "bw unlock X".
      OPERANDS = {
        'htpasswd' => ['-b', :last], 'mosquitto_passwd' => ['-b', :last],
        'rabbitmqctl' => [%w[add_user change_password authenticate_user], 1],
        'openssl' => [%w[passwd], 0], 'mkpasswd' => [nil, 0], 'wpa_passphrase' => [nil, 1],
        'smbclient' => [%r{\A["']?//}, 0], 'convertto-securestring' => [nil, 0], 'bw' => [%w[unlock login], 0]
      }.freeze
      # Registry tools take "-p" as a password only when they log in ("docker run -p 80:80" is a port).
      NEEDS_WORD = %w[docker podman nerdctl helm buildah skopeo].to_h { |name| [name, 'login'] }.freeze
      # Programs that run another program: their options end at its name ("sshpass -p X ssh -p 22").
      WRAPPERS = %w[sshpass].freeze
      KEEP = { user: /\A[^:]*:/, percent: /\A[^%]*%/, comma: /\A[^,]*,/, source: /\Apass:/ }.freeze
      # Programs that read a secret from standard input, with the options that make them do it (none:
      # always); any program does with these flags.
      STDIN = { 'sudo' => %w[-S --stdin], 'passwd' => %w[--stdin], 'chpasswd' => [], 'chgpasswd' => [],
                'kinit' => [], 'cryptsetup' => [], 'smbpasswd' => %w[-s], 'htpasswd' => %w[-i],
                'gpg' => %w[--passphrase-fd], 'gpg2' => %w[--passphrase-fd] }.freeze
      STDIN_FLAGS = %w[--password-stdin --passphrase-stdin].freeze
      # Their input is "user:password": the user stays.
      USER_INPUT = %w[chpasswd chgpasswd].freeze
      FEEDERS = %w[echo printf cat].freeze
      # Substrings a line must hold to be looked at (see Triggers).
      NEEDLES = %w[sshpass mysql maria zip 7z rar openssl ldap redis curl lftp sqlcmd bcp ipmitool ssh-keygen keytool
                   useradd usermod freerdp mongo snmp smb rpcclient docker podman nerdctl helm buildah skopeo sudo
                   passwd kinit cryptsetup gpg rabbitmqctl wpa_passphrase convertto-securestring bw -stdin <<<].freeze
      ANYWHERE = %w[passwd freerdp -stdin <<<].freeze
      WORD = /(?:'[^']*'?|"(?:[^"\\]|\\.)*"?|\\.|[^\s'"\\|;&<>()`])+/.freeze
      OPERATOR = /\|\||\||&&|;|&|\(|\)|`|<<<|<<-?|\d?[<>]+&?\d?/.freeze
      SPLITS = ['||', '|', '&&', ';', '&', '(', ')', '`'].freeze
      HEREDOC_WORD = /\A(["']?)([A-Za-z_][A-Za-z0-9_]{0,63})\1\z/.freeze
      # One-letter options bundled in one word ("-kS", "-cb").
      BUNDLED = /\A-[A-Za-z]{2,8}\z/.freeze

      # name: the program a word would run ("/usr/bin/sudo" → "sudo"); nil for an operator.
      Token = Struct.new(:text, :start, :stop, :operator, :name)

      module_function

      # Answers [the line with what it gives programs as secrets masked, the terminator of a
      # here-document fed to a program that reads a secret, or nil].
      def call(line)
        edits = []
        terminator = commands(line, 0, edits, 2)
        [KeyValue.apply(line, edits.compact.sort.uniq(&:first)), terminator]
      end

      # Adds the edits of the commands in text (at byte offset in the line) and of the commands quoted
      # inside them ("bash -c 'echo X | sudo -S …'"), depth levels down; answers a terminator or nil.
      def commands(text, offset, edits, depth)
        found = tokens(text)
        if depth.positive?
          found.each do |token|
            text = token.text
            next unless text.length > 2 && (text[0] == '"' || text[0] == "'") && text.end_with?(text[0]) && text.match?(/\s/)

            inner = []
            commands(text[1...-1], offset + token.start + 1, inner, depth - 1)
            edits.concat(inner)
          end
        end
        shifted = []
        terminator = commands_in(found, shifted)
        edits.concat(shifted.compact.map { |start, stop, text| [start + offset, stop + offset, text] })
        terminator
      end

      def commands_in(found, edits)
        terminator = nil
        segments(found).each_cons(2) do |(before, joint), (segment, _)|
          options(segment, edits)
          next unless stdin?(segment)

          user = segment.any? { |token| USER_INPUT.include?(token.name) }
          fed(before, user, edits) if joint == '|'
          terminator ||= here(segment, user, edits)
        end
        terminator
      end

      # The line's words and operators, with their byte offsets.
      def tokens(line)
        scanner = StringScanner.new(line)
        found = []
        until scanner.eos?
          next if scanner.skip(/\s+/)

          start = scanner.pos
          operator = scanner.scan(OPERATOR)
          text = operator || scanner.scan(WORD) || scanner.getch
          found << Token.new(text, start, scanner.pos, !operator.nil?, operator ? nil : text.sub(%r{\A.*/}, '').downcase)
        end
        found
      end

      # [[tokens of a command, the operator that ends it], …] after an empty first command, so that
      # each command is seen with the one before it.
      def segments(tokens)
        list = [[[], nil]]
        current = []
        tokens.each do |token|
          if token.operator && SPLITS.include?(token.text)
            list << [current, token.text]
            current = []
          else
            current << token
          end
        end
        list << [current, nil]
      end

      # The values of the secret options, and the secret words, of each known program in the command.
      def options(segment, edits)
        words = nil
        segment.each_with_index do |token, index|
          name = token.name
          operands = OPERANDS[name]
          operands(segment, index, operands, edits) if operands
          password_options = OPTIONS[name]
          next unless password_options && (!NEEDS_WORD[name] || (words ||= segment.to_h { |other| [other.text, true] })[NEEDS_WORD[name]])

          option_values(segment, index + 1, password_options, WRAPPERS.include?(name), edits)
        end
      end

      def option_values(segment, index, password_options, wrapper, edits)
        while index < segment.size
          token = segment[index]
          index += 1
          next if token.operator
          break if token.text == '--' || OPTIONS.key?(token.name)
          break if wrapper && !token.text.start_with?('-') && segment[index - 2].then { |previous| !previous.text.start_with?('-') }

          password_options.each do |option, (how, keep)|
            if token.text == option && how != :attached
              value = segment[index]
              next unless value && !value.operator

              edits << masked(value, value.start, KEEP[keep])
              index += 1
            elsif token.text.start_with?(option) && token.text.length > option.length && how != :separate &&
                  (option.length == 2 || option.end_with?(':') || token.text[option.length] == '=')
              skip = option.length + (token.text[option.length] == '=' ? 1 : 0)
              edits << masked(Token.new(token.text[skip..-1], token.start + skip, token.stop), token.start + skip, KEEP[keep])
            end
          end
        end
      end

      # The secret words of the program at index, which takes one as a plain word (see OPERANDS): up to
      # the next such program, so that a line of many costs no more.
      def operands(segment, index, (trigger, first), edits)
        words = segment[(index + 1)..-1].take_while { |word| !word.operator && !OPERANDS.key?(word.name) }
        at = trigger ? words.index { |word| trigger_word?(word.text, trigger) } : -1
        return unless at

        secrets = words[(at + 1)..-1].reject { |word| word.text.start_with?('-') }
        secrets = first == :last ? secrets.last(1) : secrets.drop(first)
        secrets.each { |word| edits << masked(word, word.start, nil) }
      end

      # A subcommand among words, a word of a shape, or a one-letter option alone or bundled with
      # others ("-b", "-nb").
      def trigger_word?(word, trigger)
        return trigger.include?(word) if trigger.is_a?(Array)
        return trigger.match?(word) if trigger.is_a?(Regexp)

        word == trigger || word.match?(BUNDLED) && word.include?(trigger[1])
      end

      # The edit that masks a word's value: the quotes around it and the part keep names kept; nil
      # when the part keep requires is not there.
      def masked(token, start, keep, required = true)
        word = token.text
        quote = word[0] if word.length > 1 && %w[' "].include?(word[0]) && word.end_with?(word[0])
        inner = quote ? word[1...-1] : word
        kept = keep ? inner[keep].to_s : ''
        return nil if (keep && required && kept.empty?) || inner.include?(MASK) || inner.length == kept.length

        [start, start + word.bytesize, "#{quote}#{kept}#{MASK}#{quote}"]
      end

      # Whether the command makes a program read a secret from standard input.
      # Each program is looked at once, at its first appearance, so that a line of many costs no more.
      def stdin?(segment)
        seen = {}
        segment.each_with_index.any? do |token, index|
          next true if STDIN_FLAGS.include?(token.text)

          # Any program named for a password reads it when fed ("vncpasswd -f <<< X").
          flags = STDIN.fetch(token.name) { token.name.to_s.include?('passwd') ? [] : nil }
          next false if !flags || seen[token.name]

          seen[token.name] = true
          flags.empty? || segment[(index + 1)..-1].any? { |word| stdin_flag?(word.text, flags) }
        end
      end

      # "-S", or bundled with other one-letter options ("-kS").
      def stdin_flag?(word, flags)
        return true if flags.include?(word)

        word.match?(BUNDLED) && flags.any? { |flag| flag.length == 2 && word.include?(flag[1]) }
      end

      # What "echo", "printf" or "cat <<<" before the pipe writes.
      def fed(segment, user, edits)
        index = segment.index { |token| FEEDERS.include?(token.name) }
        return unless index

        words = segment[(index + 1)..-1].take_while { |token| !token.operator || token.text == '<<<' }
        case segment[index].name
        when 'echo' then words = words.drop_while { |token| token.text.match?(/\A-[neE]+\z/) }
        when 'printf' then words = words.drop(1) if words.size > 1 && words.first.text.include?('%')
        when 'cat' then return here(segment, user, edits)
        end
        words.each { |token| edits << masked(token, token.start, user ? KEEP[:user] : nil, false) unless token.operator }
      end

      # "<<< X" masked; "<<EOF" answers the terminator of the lines that follow.
      def here(segment, user, edits)
        terminator = nil
        segment.each_cons(2) do |operator, word|
          next unless operator.operator && !word.operator

          if operator.text == '<<<'
            edits << masked(word, word.start, user ? KEEP[:user] : nil, false)
          elsif operator.text.start_with?('<<')
            terminator ||= word.text[HEREDOC_WORD, 2]
          end
        end
        terminator
      end
    end

    # -------------------------------------------------------------------------------------------------
    # SQL statements

    # SQL gives a user's password after words that name no key: "IDENTIFIED BY 'X'", "IDENTIFIED WITH
    # caching_sha2_password BY 'X'", "IDENTIFIED BY PASSWORD '*hash'", Oracle's unquoted "IDENTIFIED BY
    # X". The value is masked and its quotes kept. ("PASSWORD('X')" is a call: the key layer's.) An
    # unquoted plain word counts only in a statement ("CREATE USER scott IDENTIFIED BY tiger"), not in
    # prose ("the disk identified by serial 1234").
    module Sql
      NEEDLE = 'identified'
      STATEMENT = /\b(?:create|alter|grant|connect)\b/i.freeze
      VALUE = /(\bidentified[ \t]+(?:(?:with|via)[ \t]+[\w"'`]{1,64}[ \t]+)?(?:by|as|using)[ \t]+(?:password[ \t]+)?)
               ('(?:[^'\\]|\\.)*'?|"(?:[^"\\]|\\.)*"?|`[^`]*`?|(?>[^\s;,()'"`]+)(?!\())/xi.freeze

      module_function

      def call(line)
        line.gsub(VALUE) do
          match = Regexp.last_match
          lead, value = match.captures
          quote = value[0] if value.length > 1 && value[0] == value[-1] && %w[' " `].include?(value[0])
          secret = value != MASK && (quote || KeyValue.value_like?(value) || line[0, match.begin(0)].match?(STATEMENT))
          secret ? "#{lead}#{quote}#{MASK}#{quote}" : match[0]
        end
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Layer 2: key and value

    module KeyValue
      # Words (lowercase) that make a key secret wherever they appear inside one of its parts.
      INSIDE = %w[
        password passwort paßwort passwd passphrase passcode passkey secret token credential mnemonic apikey
        privatekey masterkey secretkey accesskey authkey signingkey encryptionkey recoverykey
        authtok kennwort geheim schlüssel schluessel zugangsdaten anmeldedaten wiederherstellung
        contraseña contrasena contrasenya senha wachtwoord lösenord losenord salasana adgangskode
        passord heslo hasło haslo jelszó jelszo şifre sifre parola lozinka geslo secrète
        пароль секрет токен ключ 密码 密碼 口令 密钥 密鑰 金鑰 私钥 私鑰 令牌 パスワード 暗証番号
        秘密鍵 暗号鍵 トークン 비밀번호 암호 토큰 पासवर्ड סיסמה κωδικός รหัสผ่าน
        sicherheitscode bestätigungscode bestaetigungscode verifizierungscode einmalcode backupcode
        sicherungscode anmeldecode verificatiecode herstelcode beveiligingscode verifieringskod reservkod
        återställningskod 验证码 驗證碼 恢复码 恢復碼 备用码 備用碼 安全码 確認コード 認証コード
        バックアップコード リカバリーコード リカバリコード 復旧コード セキュリティコード 인증코드 인증번호 복구코드
        백업코드 보안코드
      ].freeze
      # Endings that make a key secret when a name runs into them without a break ("sshpass", "bindpw",
      # "requirepass", "userpwd"), and the words that end so but name no secret (sudo's askpass is a program).
      SUFFIXES = %w[pass pw pwd].freeze
      SETTING_AFTER = '=:"\'`[]'.bytes.freeze
      NOT_SUFFIXED = %w[bypass compass encompass overpass underpass trespass surpass askpass].freeze
      # Words that make a key secret when they are one of its parts.
      PARTS = %w[
        pwd pw pass pswd psw pword passw psk pin pincode otp totp hotp mfa seed recovery auth sig
        signature session sessionid sessid sess cred creds csrf xsrf jwt bearer cvv cvc cvv2 csc
        mdp clave chave chiave jeton jetons cle clé sandi khẩu 비밀 key klucz sleutel anahtar
      ].freeze
      # Parts that are also ordinary words of package and program names ("dbus-user-session:amd64"):
      # after them a ":" or "->" counts only when a space or a quote follows it ("key->lock").
      WEAK = %w[pass session sess auth sig signature seed recovery jwt pin otp mfa cred creds csrf xsrf bearer
                cvv cvc csc key klucz sleutel anahtar].freeze
      # Weak parts whose flag takes a value of any shape ("--key abcdef").
      FLAG_STRONG = %w[key].freeze
      # Weak parts that, as a flag ("--pass X"), name a secret whatever the value looks like.
      FLAG_VALUE = %w[key pass].freeze
      # Words before "key" that make it no secret ("public key", "primaryKey", "shortcut key").
      NOT_SECRET_HEADS = %w[public pub primary foreign sort partition shortcut hot modifier keyboard].freeze
      QUALIFIERS = %w[id key token code value string str data hash secret b64 base64 hex header cookie].freeze
      COOKIE = %w[cookie cookies setcookie].freeze
      AUTHORIZATION = %w[authorization authorisation proxyauthorization].freeze
      # "<head> key", "<head> code", "<head> phrase" and the like, in any spelling.
      HEADS = {
        %w[key keys schlüssel clé cle clave chave chiave sleutel klucz anahtar 키] =>
          %w[api access secret private priv master encryption enc decryption signing sign recovery backup setup
             session auth account license licence product shared client app application consumer ssh
             gpg pgp root wrapping vault storage subscription deploy personal sync aes hmac jwt service
             security host privater geheimer],
        %w[code codes phrase words word kit] =>
          %w[recovery backup security secret seed verification auth authentication mfa 2fa 2sv totp otp
             access pin login signin unlock setup emergency rescue one onetime twofactor twostep scratch sms
             confirmation authenticator mnemonic sicherheits pass],
        %w[код коды] => %w[резервный резервные одноразовый секретный],
        %w[kodu kod] => %w[doğrulama dogrulama yedek kurtarma güvenlik guvenlik],
        %w[코드 번호] => %w[인증 백업 복구 보안 확인]
      }.freeze
      # Code words, secret through their head ("backup code 8392-1740"): strong, like "password".
      CODES = %w[code codes].freeze
      HEAD_OF = HEADS.flat_map { |tails, heads| tails.map { |tail| [tail, heads] } }.to_h.freeze
      # Phrases of separate words ("mot de passe").
      PHRASES = ['mot de passe', 'clé privée', 'cle privee', 'كلمة المرور', 'كلمة السر'].freeze
      PHRASE_TAILS = PHRASES.map { |phrase| phrase.split(' ').last }.freeze
      # Words whose head follows them ("code de vérification", "código de respaldo", "kod zapasowy",
      # "код подтверждения"): the head after them, by the start of its word.
      AFTER_TAILS = %w[code codes código códigos codigo codigos codice codici kod kody код коды klucz].freeze
      FOLLOWING = /[ \t]+(?:(?:de|di|da|do|du|of|для|за)[ \t]+|d['’][ \t]*)?(?:(?:la|le|l['’])[ \t]*)?
                   ([\p{L}\p{M}]{3,30})/xi.freeze
      LINKING_WORDS = %w[de di da do du of для за la le l].freeze
      AFTER_HEADS = %w[vérif verif secours récup recup sécur secur segur sicur sauvegarde backup respaldo
                       connexion accès acces acceso acesso accesso authentif autentic confirm conferma
                       weryfik zapas odzysk bezpiecz jednoraz dostęp dostep подтвержд восстанов проверк
                       безопасн доступ].freeze
      # Keys whose value may follow after plain whitespace ("password hunter2"); only when the value
      # looks like one.
      STRONG = /pass(?:w|phrase|code)|paßwort|pwd|pw\z|psk\z|secret|token|\Apin\z|otp|mnemonic|kennwort|geheim|contrase|senha|
                wachtwoord|salasana|passord|heslo|has[łl]o|jelsz|[şs]ifre|пароль|секрет|密|口令|パスワード|
                비밀번호|암호/x.freeze

      # Where a key may be: words found by plain substring search (fast, and the parts decide), ASCII
      # ones in a lowercased copy, the others in their usual cases. Short ones only where a word or a
      # camel-case part starts and ends.
      ASCII_STEMS = %w[
        pass passw passe passph passc passk pwd pw psw psk secret token credential cred auth authoriz authoris
        apikey masterkey privatekey secretkey accesskey authkey signingkey encryptionkey recoverykey authtok
        sig signature sess session cookie pin pincode otp totp hotp mfa seed recover mnemonic csrf xsrf jwt bearer cvv cvc csc key code phrase word kit mdp clave chave chiave jeton cle sandi
        kennwort geheim schluessel zugangs anmelde wiederherstell contrase senha wachtwoord losenord salasana
        adgangskode passord heslo haslo jelsz sifre parola lozinka geslo privee codigo codice kod kodu klucz
        sicherheitscode bestaetigungscode verifizierungscode einmalcode backupcode sicherungscode
        verificatiecode herstelcode beveiligingscode verifieringskod reservkod
      ].freeze
      OTHER_STEMS = %w[
        paß secrè schlüssel clé privée lösenord hasło şifre пароль секрет токен ключ 密码 密碼 口令 密钥 密鑰 金鑰 私钥
        私鑰 令牌 パスワード 暗証 秘密鍵 暗号鍵 トークン 비밀 암호 토큰 पासवर्ड סיסמ κωδικ รหัสผ่าน المرور
        السر khẩu código bestätigungscode återställningskod код 验证码 驗證碼 恢复码 恢復碼 备用码 備用碼 安全码
        コード 코드 번호 인증번호
      ].flat_map { |word| [word, word.capitalize, word.upcase] }.uniq.freeze
      STEMS = (ASCII_STEMS + OTHER_STEMS).freeze
      IDENT_BEFORE = /[\p{L}\p{M}\p{N}_.\-]*\z/.freeze
      IDENT_AFTER = /[\p{L}\p{M}\p{N}_.\-]*/.freeze
      WORDS_BEFORE = /(?:[\p{L}\p{M}\p{N}]+[ '’\-]+){1,3}\z/.freeze
      # Scripts written without spaces: the value may follow the key with no separator at all.
      UNSPACED = /[\p{Han}\p{Hiragana}\p{Katakana}\p{Hangul}\p{Thai}]/.freeze

      # A value an earlier layer masked whole ("?password=[REDACTED]&…"), left as it is.
      MASKED_VALUE = /#{Regexp.escape(MASK)}(?=[&;,\s"'}\]]|\z)/.freeze
      SEPARATOR = /=>|:=|==?|:(?!:)|：|＝|->|<-|(?:\|\||&&|\?\?|[+?.])=|[—–](?=[ \t])/.freeze
      BLANKS = /[ \t]*/.freeze
      YAML_BLOCK = /(?:[|>][+\-]?\d?)?[ \t]*\z/.freeze
      # A here-document as the value ("password = <<~EOS", "<<-'END'", PHP's "<<<EOT", Ruby's
      # "<<~EOS.strip"): the lines up to its terminator are the value.
      HEREDOC = /<<<?[~\-]?(["']?)([A-Za-z_][A-Za-z0-9_]{0,63})\1(?:\.[A-Za-z_][A-Za-z0-9_]{0,30}(?:\(\))?){0,3}[ \t]*[;,)]?[ \t]*\z/.freeze
      # A here-document that ends the value ("API_KEY=$(cat <<'EOF'"): its lines are the value too.
      TRAILING_HEREDOC = /(?<!<)<<[~\-]?(["']?)([A-Za-z_][A-Za-z0-9_]{0,63})\1[ \t]*\)?[ \t]*\z/.freeze
      # A triple-quoted value that opens at the end of the line (password = """): the lines up to the
      # closing quotes are the value.
      TRIPLE_QUOTE = /[rRbBuUfF]{0,2}("""|''')[ \t]*\z/.freeze
      # Whose or which secret it is, between the key and its separator: up to five words after a
      # preposition ("password for root:", "Password of user bob (old) =", "Passwort des Benutzers bob:",
      # "contraseña de la cuenta de juan:"), then perhaps an aside in brackets; a short aside alone
      # ("password (again):", "token [prod]:"); a "/word" ("new_password/confirm:") or one word that
      # qualifies it ("Password again:", "mot de passe maître :"). Bounded, and only before a ":" or
      # "=" with a blank or a quote after it (not "totp/Keyloft:jo"), or a here-document; words that make it a clause are
      # refused afterwards (see CLAUSE_WORDS).
      # One word of a qualifier: quoted, or a run without blanks, separators and brackets; an apostrophe
      # ("l'utilisateur") or a URL's "://" may stand inside it.
      QUALIFIER_WORD = %q{(?:'[^'\n]{1,80}'|"[^"\n]{1,80}"|[^\s=:()\[\]'"](?:[^\s=:()\[\]"]|://){0,79})}
      QUALIFIER_ASIDE = %q{(?:\([^()\n"'`]{1,40}\)|\[[^\[\]\n"'`]{1,40}\])}
      QUALIFIER_PREPOSITION = %q{(?:for|of|on|to|für|fuer|von|vom|des|der|de|del|della|du|pour|para|per|di|da|do|voor|van|
                                   för|til|dla|для|от|на)}
      # A separator with a blank or a quote after it, or a here-document.
      QUALIFIER_END = %q{(?=[ \t]*(?:(?:=(?![=>])|:(?!:)|：|＝)(?:[ \t"'“„«]|\z)|<<[~\-]?["']?[A-Za-z_]))}
      QUALIFIER = /(?:[ \t]+(?:#{QUALIFIER_PREPOSITION}
                   (?:[ \t]+#{QUALIFIER_WORD}){1,5}(?:[ \t]*#{QUALIFIER_ASIDE})?|
                   #{QUALIFIER_ASIDE}|
                   (?:again|confirm|confirmation|repeat|retype|verify|new|old|current|neu|alt|aktuell|wiederholen|
                      bestätigen|bestätigung|nouveau|nouvelle|ancien|actuel|maître|maitre|principal|confirmer|
                      nuevo|nueva|actual|confirmar|novo|nova|nuovo|nuova|nieuw|oud|ny|nytt|nowe|nowy|новый|текущий|
                      header|value)
                   (?:[ \t]*#{QUALIFIER_ASIDE})?)|
                   \/[\p{L}\p{N}_\-]{1,24})
                  #{QUALIFIER_END}/xio.freeze
      # A label's longer qualifier ("Password for the admin user of the main database server:"): up to
      # twelve words, for a key that begins its line, before a value that does not read as prose.
      LABEL_QUALIFIER = /[ \t]+#{QUALIFIER_PREPOSITION}(?:[ \t]+#{QUALIFIER_WORD}){6,12}(?:[ \t]*#{QUALIFIER_ASIDE})?
                         #{QUALIFIER_END}/xio.freeze
      # Any one or two words after a key that begins a line, as a field's label does ("parola d'ordine:",
      # "κωδικός πρόσβασης:"); they count only before a value that does not read as prose ("Password
      # strength: weak" is prose).
      LOOSE_QUALIFIER = /[ \t]+\p{L}[\p{L}\p{M}'’\-]{0,30}(?:[ \t]+\p{L}[\p{L}\p{M}'’\-]{0,30})?
                        (?=[ \t]*(?:=(?![=>])|:(?!:)|：|＝)(?:[ \t"'“„«]|\z))/x.freeze
      LABEL_START = /\A[ \t\-*•>#]*\z/.freeze
      # Words that make what stands between a key and a colon a clause of prose, not a qualifier
      # ("password for user bob was rejected: too short"): verbs, negations and conjunctions.
      CLAUSE_WORDS = %w[is are was were be been being am has have had would shall should can could might must
                        does did not never failed fails changed expired expires rejected required requires updated
                        accepted denied invalid incorrect wrong missing because when if that which who while since
                        until ist war wurde wird wurden sind hat haben nicht kein keine wenn weil dass est était
                        sont été pas fue está ha был была было не].to_h { |word| [word, true] }.freeze
      CLOSING = { '"' => '"', "'" => "'", '`' => '`', '“' => '”', '”' => '”', '„' => '“', '«' => '»',
                  '»' => '«', '‘' => '’', '‹' => '›', '「' => '」', '『' => '』' }.freeze
      # What may follow a closing quote: the end of a value in any syntax; after an unquoted key
      # ("password='x' …"), only the end of the line or of a list item.
      QUOTE_END = /[\s,;}\])&\\]|\z/.freeze
      PLAIN_QUOTE_END = /[ \t]*(?:[,;)\]}][ \t]|[,;)\]}]?[ \t]*\z)/.freeze
      JSON_SCALAR = /-?[\p{L}\p{N}_.+\-]*/.freeze
      # The name in a record after "key", and what leads from it to the record's value.
      RECORD_NAME = /(\\*["']?)[\p{L}_][\p{L}\p{N}_.:\-]{0,63}\1/.freeze
      RECORD_VALUE = %r{[ \t]*(?:,?[ \t]*\\*["']?value\\*["']?[ \t]*(?:=>|[:=])[ \t]*|
                         </key>[ \t]*<(?:string|data|integer)>|>)}xi.freeze
      RECORD_END = /[\s,;}\])&\\\/>]|\z/.freeze
      # One piece of a call's arguments: a quoted text, a run without quotes and parentheses, or one
      # character.
      ARGUMENT_PIECE = /"(?:[^"\\]|\\.)*"?|'(?:[^'\\]|\\.)*'?|[^"'()]+|./.freeze
      # Linking words between a key and its value: "is", "was set to", "has been changed to", "is now",
      # in the languages of the labels; optionally after whose key it is ("password for the vault is").
      LINK = '(?:(?:has|have|had|will|would|got|gets|is|was|were|are)[ \t]+)?(?:(?:been|being)[ \t]+)?
              (?:(?:now|still|currently|just|also|already|then|again)[ \t]+)?
              (?:(?:set|changed|reset|updated|rotated|switched|defaults|defaulted|initiali[sz]ed|generated|
                 configured)[ \t]+(?:to|as|into)|is|was|are|were|be|been|becomes|became|equals|remains|reads|
                 ist|war|lautet|est|était|etait|es|era|é|è|är|er|jest|это|является|был|была|было)
              (?=[ \t:]|\z)(?:[ \t]+(?:now|still|currently|also|again|just))?[ \t]*:?[ \t]*'
      LINKED = /(?:(?:for|of|on|at|in)(?:[ \t]+[^\s=:]+){1,3}?[ \t]+|(?:value|string|data|hash|code|id)[ \t]+)?
                #{LINK}/xi.freeze
      LINKED_QUOTE_END = /[,;.!?)\]}]*(?:[ \t]|\z)/.freeze
      # Other words between the key and the link ("the password you chose is X"): only before a value
      # that looks like one.
      LOOSELY_LINKED = /(?:[^\s=:]+[ \t]+){1,3}?#{LINK}/xi.freeze
      # A setter on the secret's field ("passwordField.sendKeys(…)", "token.set(…)", "pwInput.value =").
      SETTERS = %w[set setvalue settext value text update put fill type sendkeys input enter].freeze
      # A word as a shell reads it: 'quoted', "quoted", \escaped and plain pieces, up to a blank.
      SHELL_WORD = /(?:'[^']*'?|"(?:[^"\\]|\\.)*"?|\\.|[^\s'"\\])+/.freeze
      # A netrc entry ("machine host login jo password pw"), on one line or as its own lines.
      NETRC = /\A\s*(?:(?:machine|default)\s.*\s(?:login|password|account)\s|(?:login|password|passwd|account)\s+\S+\s*\z)/.freeze
      AUTH_SCHEME = /\A(Bearer|Basic|Digest|Negotiate|NTLM|Token|Kerberos|HOBA|Mutual|DPoP|AWS4-HMAC-SHA256|
                       SCRAM-SHA-\d+|OAuth|MAC|ApiKey|SSWS|GenieKey)([ \t]+)/xi.freeze

      # part: the word that makes the key secret; subscript: the key stands in brackets ("ENV['TOKEN']");
      # record: the key is the word "key", which may name the key of a record whose value follows;
      # enclosed: the quote before the key does not close after it, it holds the key and its value
      # ("curl -H 'Authorization: token X'"), so the value ends at the matching closing quote.
      Key = Struct.new(:kind, :start, :stop, :quote, :flag, :strong, :inside, :stem_end, :weak, :netrc, :part,
                       :subscript, :record, :qualified, :enclosed)
      # Memos, bounded: the same keys and quotes come back line after line.
      KIND_CACHE = {}
      PARTS_CACHE = {}
      LITERALS = {}

      module_function

      # Answers [the line with every secret value masked; the indentation of a YAML block that starts
      # on the next line, the terminator of a here-document that does, or nil]. name: the text is a file or link name, where a key's value may also
      # follow inside the same word ("export_pwd_Hunter2.csv").
      # stems: the stems the line holds (see Triggers), all by default.
      def call(line, name: false, stems: STEMS)
        found = stem_positions(line, stems)
        return [line, nil] if found.empty?

        edits = []
        block = nil
        scanner = StringScanner.new(line)
        floor = 0 # the end of the last value masked: nothing before it is looked at again
        scanned = 0 # the end of the last key looked at
        netrc = line.match?(NETRC)
        found.each do |stem_start, stem_end|
          next if stem_start < scanned

          scanner.pos = stem_end
          key = key_at(line, scanner, floor, name, stem_start, stem_end, netrc)
          scanned = [scanned, scanner.pos].max
          next unless key

          edit, block_indent = value_edit(line, scanner, key, name)
          floor = scanned = [scanned, edit[1]].max if edit
          edits << edit if edit
          block ||= block_indent
        end
        [apply(line, edits), block]
      end

      # [start, stop] byte offsets of the stems in the line, in order.
      def stem_positions(line, stems)
        return [] if stems.empty?

        lower = line.b.downcase(:ascii)
        bytes = line.b
        found = []
        stems.each do |stem|
          stem = stem.b
          at = 0
          while (at = lower.index(stem, at))
            stop = at + stem.bytesize
            found << [at, stop] if whole_part?(bytes, lower, at, stop)
            at = stop
          end
        end
        found.sort!
      end

      # A stem of up to four letters only at the start and end of a word or of a camel-case part
      # ("dbPwd", "pin_code"); longer ones anywhere.
      def whole_part?(bytes, lower, start, stop)
        return true if stop - start > 4 || !bytes.byteslice(start, stop - start).ascii_only?

        starts = start.zero? || !lower_letter?(lower.getbyte(start - 1)) || upper_letter?(bytes.getbyte(start))
        return false unless starts || setting_suffix?(lower, start, stop)

        stop += 1 if lower.getbyte(stop) == 115 && !lower_letter?(lower.getbyte(stop + 1)) # plural "s"
        stop >= lower.bytesize || !lower_letter?(lower.getbyte(stop)) || upper_letter?(bytes.getbyte(stop))
      end

      # An ending of a name ("sshpass", "bindpw") counts where a setting stands: before a separator, a
      # quote or a subscript, as an option, or as a line's first word ("requirepass X"); elsewhere the
      # name is a program's ("sshpass -p X" is the command line layer's).
      def setting_suffix?(lower, start, stop)
        return false unless SUFFIXES.include?(lower.byteslice(start, stop - start))

        after = lower.getbyte(stop)
        return true if after.nil? || SETTING_AFTER.include?(after)

        head = start - 1
        head -= 1 while head >= 0 && start - head < 48 && ascii_ident_byte?(lower.getbyte(head))
        return true if lower.getbyte(head + 1) == 45 # "--dbpass X"

        head -= 1 while head >= 0 && [32, 9].include?(lower.getbyte(head))
        head.negative? || lower.getbyte(head) == 10
      end

      def lower_letter?(byte)
        byte && byte >= 97 && byte <= 122
      end

      def upper_letter?(byte)
        byte && byte >= 65 && byte <= 90
      end

      # The key around the stem at stem_start...stem_end, or nil when it is no secret-sounding key.
      # Leaves the scanner after the key.
      def key_at(line, scanner, floor, name, stem_start, stem_end, netrc)
        start = ident_start(line, stem_start, floor)
        tail = scanner.scan(IDENT_AFTER).to_s
        ident = line.byteslice(start, stem_end - start) + tail
        trailing = ident[/[.\-]+\z/].to_s
        unless trailing.empty?
          ident = ident[0...-trailing.length]
          scanner.pos -= trailing.bytesize
        end
        leading = ident[/\A[.\-]+/].to_s
        ident = ident[leading.length..-1]
        start += leading.bytesize
        key = classify(line, ident, start, scanner.pos, floor, name, netrc) ||
              followed_key(line, scanner, ident, start, floor, name, netrc)
        key.stem_end = stem_end if key
        key
      end

      # A word whose head follows it ("code de vérification:", "kod zapasowy"): the key runs to the
      # end of the head. Leaves the scanner after the key.
      def followed_key(line, scanner, ident, start, floor, name, netrc)
        return nil unless AFTER_TAILS.include?(parts_of(ident).last) && scanner.check(FOLLOWING)

        head = scanner[1].downcase
        return nil unless head_after([head])

        scanner.pos += scanner.matched.bytesize
        make_key(line, [:secret, nil, false, head], ident, start, scanner.pos, floor, name, netrc)
      end

      # Where the identifier holding the stem starts: ASCII identifier characters are walked back
      # byte by byte; other characters go through IDENT_BEFORE on a short window.
      def ident_start(line, stem_start, floor)
        start = stem_start
        start -= 1 while start > floor && ascii_ident_byte?(line.getbyte(start - 1))
        return start unless start > floor && line.getbyte(start - 1) > 127

        head = text_before(line, start, [floor, start - 64].max)
        start - head[IDENT_BEFORE].to_s.bytesize
      end

      def ascii_ident_byte?(byte)
        (byte >= 97 && byte <= 122) || (byte >= 65 && byte <= 90) || (byte >= 48 && byte <= 57) ||
          byte == 95 || byte == 45 || byte == 46
      end

      # The text between from and to (byte offsets), from moved forward to a character boundary.
      def text_before(line, to, from)
        from += 1 while from < to && (line.getbyte(from) & 0xC0) == 0x80
        line.byteslice(from, to - from)
      end

      def classify(line, ident, start, stop, floor, name, netrc)
        parts = parts_of(ident)
        previous = needs_previous?(parts) ? text_before(line, start, [floor, start - 48].max)[WORDS_BEFORE].to_s : ''
        found = kind_cached(parts, previous, ident, name)
        found && make_key(line, found, ident, start, stop, floor, name, netrc)
      end

      # found: [kind, inside offset, weak, the part that makes the key secret].
      def make_key(line, found, ident, start, stop, floor, name, netrc)
        kind, inside, weak, part = found
        before = text_before(line, start, [floor, start - 8].max)
        quote = before[/\\*["'`]\z/]
        flag = before.match?(/(?:\A|[\s(\[{,;|])--?\z/) && (start - before.bytesize == floor || before.length > 2 || start < 8)
        strong = flag || name || netrc || kind == :secret && (ident.downcase.match?(STRONG) || CODES.include?(part))
        subscript = before.match?(/\[[ \t]*(?::|\\*["'`])?\z/)
        record = FLAG_STRONG.include?(ident.downcase)
        Key.new(kind, start, stop, quote, flag, strong, inside && name ? inside : nil, nil, weak, netrc, part, subscript,
                record)
      end

      # Whether the words before the key can change its meaning ("api key", "mot de passe").
      def needs_previous?(parts)
        HEAD_OF.key?(parts.first) || PHRASE_TAILS.include?(parts.last)
      end

      # Whether a name on its own names a secret ("DB_PASSWORD", "apiToken"), as a list of settings
      # gives it in a field of its own.
      def secret_name?(ident)
        !kind_cached(parts_of(ident), '', ident, false).nil?
      end

      # [kind, inside offset, weak, part] of an identifier (see #kind_of).
      def kind_cached(parts, previous, ident, name)
        KIND_CACHE.clear if KIND_CACHE.size > 4096
        KIND_CACHE[[ident, previous, name]] ||= begin
          context = previous.empty? ? parts : parts_of(previous) + parts
          kind_of(parts, context, ident, previous, name)
        end
      end

      # The parts of a key: "X-Api-Key" → x api key; "masterKey" → master key; "密码" → 密码.
      def parts_of(ident)
        PARTS_CACHE.clear if PARTS_CACHE.size > 4096
        PARTS_CACHE[ident] ||= split_parts(ident)
      end

      def split_parts(ident)
        ident.gsub(/(\p{Ll})(\p{Lu})/, '\1 \2').gsub(/(\p{Lu})(\p{Lu}\p{Ll})/, '\1 \2')
             .gsub(/(\p{L})(\p{N})|(\p{N})(\p{L})/) { "#{Regexp.last_match(1) || Regexp.last_match(3)} " \
                                                    "#{Regexp.last_match(2) || Regexp.last_match(4)}" }
             .downcase.split(/[^\p{L}\p{M}\p{N}]+/).reject(&:empty?)
      end

      # Answers [kind, offset in ident after which a name's value may follow, weak, the part that makes
      # it secret] or nil; weak: the key is secret only through a WEAK part.
      def kind_of(parts, context, ident, previous, name)
        return [:cookie, nil, false, nil] if parts.any? { |part| COOKIE.include?(part) } || parts.last(2) == %w[set cookie]
        return [:authorization, nil, false, nil] if parts.any? { |part| AUTHORIZATION.include?(part) }

        index = secret_part(parts, context)
        return nil if index && !name && !ident.match?(UNSPACED) && !key_like?(ident, parts, index)
        if index.nil?
          phrase = "#{previous.downcase.tr("’'", '  ').squeeze(' ')}#{parts.join(' ')}"
          return PHRASES.any? { |words| phrase.end_with?(words) } ? [:secret, nil, false, nil] : nil
        end
        weak = WEAK.include?(parts[index]) && parts.none? { |part| INSIDE.any? { |word| part.include?(word) } } &&
               !headed?(parts, context, index)
        [:secret, inside_offset(ident, parts, index), weak, parts[index]]
      end

      # The index of the part that makes the key secret, or nil.
      def secret_part(parts, context)
        offset = context.size - parts.size
        parts.each_with_index do |part, index|
          return index if INSIDE.any? { |word| part.include?(word) } || suffixed?(part)

          at = offset + index
          next if FLAG_STRONG.include?(part) && at.positive? && NOT_SECRET_HEADS.include?(context[at - 1])
          return index if PARTS.include?(part) && (!WEAK.include?(part) || head_noun?(parts, index))

          return index if headed?(parts, context, index)
          head = AFTER_TAILS.include?(part) && head_after(parts[(index + 1)..(index + 3)])
          return index + 1 + head if head
        end
        nil
      end

      # The index among words of the head that makes a code word before them secret ("código de
      # verificación", "kod zapasowy"), or nil.
      def head_after(words)
        index = words.index { |word| !LINKING_WORDS.include?(word) }
        index if index && AFTER_HEADS.any? { |start| words[index].start_with?(start) }
      end

      def suffixed?(part)
        SUFFIXES.any? { |suffix| part.length > suffix.length + 1 && part.end_with?(suffix) } &&
          !NOT_SUFFIXED.include?(part)
      end

      # Whether the part at index has a head before it ("api key", "one-time code").
      def headed?(parts, context, index)
        at = context.size - parts.size + index
        heads = HEAD_OF[parts[index]]
        heads && at.positive? && head?(heads, context[at - 1], at > 1 ? context[at - 2] : nil)
      end

      # A head of one word ("backup code") or of two ("one-time code", "2FA code").
      def head?(heads, before, earlier)
        heads.include?(before) || (earlier && heads.include?("#{earlier}#{before}"))
      end

      # In a line, a secret word makes a key only as its last dotted part ("db.password", not
      # "signing-key.asc") with at most one more word after it ("secret_key_base", not
      # "use-same-credentials-on-redirect"), or before a setter ("passwordField.sendKeys").
      def key_like?(ident, parts, index)
        leaf = parts_of(ident.split('.').last.to_s)
        return SETTERS.include?(leaf.join) && parts.size - leaf.size - index <= 2 if index < parts.size - leaf.size

        parts[(index + 1)..-1].count { |part| !QUALIFIERS.include?(part) } <= 1
      end

      # A weak part counts when nothing but qualifiers ("auth_token", "session_id") follows it.
      def head_noun?(parts, index)
        parts[(index + 1)..-1].all? { |part| QUALIFIERS.include?(part) }
      end

      # Where, inside a name, the value of its key may start: after the secret part, when more follows.
      def inside_offset(ident, parts, index)
        return nil if index == parts.size - 1

        downcased = ident.downcase
        position = 0
        parts[0..index].each { |part| position = downcased.index(part, position).to_i + part.length }
        return nil if position >= ident.length || ident[position..-1].match?(/\A\.[A-Za-z0-9]{1,5}\z/)

        position
      end

      # Answers [[start, stop, replacement] in bytes, or nil; the indentation of a YAML block or nil].
      def value_edit(line, scanner, key, name)
        after_key = scanner.pos
        if key.quote
          key.enclosed = key.quote unless scanner.skip(literal(key.quote))
        elsif (closing = scanner.check(/\\*["'`](?=[ \t]*\]?[ \t]*(?:=>|:|=|,))/))
          # The opening quote stands before an earlier word of the key ("recovery code").
          key.quote = closing
          scanner.pos += closing.bytesize
          key.subscript = true
        end
        scanner.skip(/[ \t]*\]/) if key.subscript # "ENV['API_TOKEN'] = …", "config[:password] = …"
        scanner.skip(/\[\w{0,20}\]/) unless key.quote # an index: "password[0]=…", a form's "password[]=…"
        key.qualified = %i[secret authorization].include?(key.kind) && !key.flag && !name && qualifier?(scanner, key)
        blanks = scanner.skip(BLANKS).to_i
        # A here-document with no separator before it ("api_key <<EOT", "password <<-'END'").
        return [nil, scanner[2]] if scanner.check(HEREDOC) && terminator?(scanner[1], scanner[2])

        if (separator = scanner.scan(SEPARATOR))
          if (key.weak || key.kind == :cookie) && %w[: ->].include?(separator) && !key.quote && scanner.check(/[^\s"'`]/)
            scanner.pos = after_key
            return [nil, nil]
          end

          record = key.record && record_value(scanner)
          record ? [record, nil] : separated(line, scanner, key)
        elsif blanks.positive? && compound_next?(line, scanner, key)
          # "secret key", "session token": the next word ends the key, and its stem finds the value.
          scanner.pos = after_key
          [nil, nil]
        elsif key.inside
          inside_edit(line, key)
        elsif (key.quote || pair_opened?(line, key)) && scanner.check(/[ \t]*,/)
          [pair_value(line, scanner, key), nil]
        elsif element?(line, scanner, key)
          [element_value(line, scanner, key), nil]
        elsif blanks.zero? && scanner.check(/\(/)
          [call_value(scanner, key), nil]
        elsif blanks.positive? && (linked = linked_value(scanner, key))
          [linked, nil]
        elsif blanks.positive? && (key.strong || (!name && setting_line?(line, scanner, key)))
          [spaced_value(line, scanner, key, name), nil]
        elsif line.byteslice(key.start, key.stop - key.start).match?(UNSPACED)
          [unspaced_value(line, scanner, key), nil]
        else
          scanner.pos = after_key
          [nil, nil]
        end
      end

      # Skips a qualifier between the key and its separator ("for user bob (old)"), unless its words
      # read as a clause. Answers :loose for words not known to qualify a key (see LOOSE_QUALIFIER).
      def qualifier?(scanner, key)
        start = scanner.pos
        length = scanner.skip(QUALIFIER)
        loose = !length && label?(scanner.string, key) &&
                (length = scanner.skip(LOOSE_QUALIFIER) || scanner.skip(LABEL_QUALIFIER))
        return false unless length
        unless scanner.string.byteslice(start, length).downcase.scan(/\p{L}+/).any? { |word| CLAUSE_WORDS[word] }
          return loose ? :loose : true
        end

        scanner.pos = start
        false
      end

      # Whether the key begins its line, after at most a little indentation or a list's bullet.
      def label?(line, key)
        key.start <= 16 && line.byteslice(0, key.start).match?(LABEL_START)
      end

      # Whether the word after the key makes it longer ("secret key", "pass phrase").
      def compound_next?(line, scanner, key)
        word = scanner.check(/[\p{L}]{2,24}/)
        heads = word && HEAD_OF[word.downcase]
        heads && heads.include?(parts_of(line.byteslice(key.start, key.stop - key.start)).last)
      end

      # After "=", ":" and the like: a quoted value to its closing quote, a YAML block, a JSON scalar
      # after a quoted key, or everything to the end of the line.
      def separated(line, scanner, key)
        scanner.skip(BLANKS)
        start = scanner.pos
        return [nil, nil] if scanner.check(MASKED_VALUE) && !%i[cookie authorization].include?(key.kind)
        return [nil, scanner[2]] if scanner.check(HEREDOC)
        return [nil, scanner[1]] if scanner.check(TRIPLE_QUOTE)
        if !key.qualified && scanner.check(YAML_BLOCK) && !line.byteslice(key.stop, start - key.stop).include?('=')
          return [nil, indentation(line)]
        end

        if (quoted = quoted_value(scanner, key.kind, key.quote ? QUOTE_END : PLAIN_QUOTE_END))
          # "password='' rest": an empty pair of quotes starts the value rather than holding it.
          empty = scanner.pos - start == 2
          return [[start, scanner.pos, quoted], nil] unless empty && !key.quote && !scanner.check(/\s*\z/)

          scanner.pos = start
        end
        value = if key.enclosed then scanner.scan(enclosed_pattern(key.enclosed)).to_s
                elsif scanner.check(/\\*["'`“”„«»‘‹「『]/) then scanner.scan(/.*/).to_s
                elsif key.quote && scanner.check(/[\[{]/) then nested(scanner)
                elsif key.quote then scanner.scan(JSON_SCALAR).to_s
                else scanner.scan(/.*/).to_s
                end
        value = value.sub(/\s+\z/, '')
        return [nil, nil] if value.empty? || (key.qualified && (key.weak || key.qualified == :loose) && prose?(value))

        # "Authorization: Digest username="bob"," goes on in the deeper indented lines that follow.
        folded = key.kind == :authorization && value.end_with?(',') ? indentation(line) : nil
        heredoc = value.match(TRAILING_HEREDOC)
        folded = heredoc[2] if heredoc && terminator?(heredoc[1], heredoc[2])
        [[start, start + value.bytesize, masked(value, key.kind)], folded]
      end

      # Whether a word after "<<" ends a here-document: quoted or in capitals, as here-documents are
      # written ("out << token <<endl" is a stream).
      def terminator?(quote, word)
        !quote.empty? || !word.match?(/\p{Ll}/)
      end

      # A record of a name and its value after the word "key" ({"key": "password", "value": "x"},
      # <add key="ApiKey" value="x"/>, <entry key="token">x</entry>): the value masked, the name too
      # unless it reads like a name. nil when no value field follows.
      def record_value(scanner)
        scanner.skip(BLANKS)
        start = scanner.pos
        name = scanner.scan(RECORD_NAME)
        between = name && scanner.scan(RECORD_VALUE)
        value = if !between || (between.strip == '>' && !name.match?(/\A\\*["']/)) then nil
                elsif between.end_with?('>') then scanner.scan(/[^<]+/) && MASK
                else quoted_value(scanner, :secret, RECORD_END) || (scanner.scan(/[^\s,;}\]>\/]+/) && MASK)
                end
        return (scanner.pos = start; nil) unless value

        name = name.sub(/[^"'\\].*[^"'\\]|[^"'\\]/, MASK) if name.match?(/\d/)
        [start, scanner.pos, "#{name}#{between}#{value}"]
      end

      # "setPassword("x")", "set_token(a, b)": the arguments to the closing parenthesis; after a weak
      # key ("session(3)") only a quoted one.
      def call_value(scanner, key)
        scanner.skip(/\([ \t]*/)
        start = scanner.pos
        quoted = quoted_value(scanner, key.kind, /[ \t]*\)/)
        return [start, scanner.pos, quoted] if quoted
        return nil if key.weak

        arguments = +''
        depth = 1
        while (piece = scanner.check(ARGUMENT_PIECE))
          depth += { '(' => 1, ')' => -1 }.fetch(piece, 0)
          break if depth.zero?

          arguments << piece
          scanner.pos += piece.bytesize
        end
        arguments = arguments.sub(/\s+\z/, '')
        return nil if arguments.empty? || arguments.match?(/\Ae?s\z/i) # "password(s)"

        [start, start + arguments.bytesize, masked(arguments, key.kind)]
      end

      # "the master password is X", "token set to 'X'", "password for the vault was X": after a linking
      # word a quoted value is always a value, and an unquoted one runs to the end of the line ("password
      # is incorrect" loses its last word: prose is cheap, a secret is not); after a weak key ("auth is
      # disabled") a lowercase word with a plain one after it is prose. After other words ("the password
      # you chose is X"), only a value that looks like one.
      def linked_value(scanner, key)
        return nil if key.kind == :cookie

        loose = !scanner.skip(LINKED)
        return nil if loose && (key.weak || !scanner.skip(LOOSELY_LINKED))

        start = scanner.pos
        quoted = quoted_value(scanner, key.kind, LINKED_QUOTE_END)
        return [start, scanner.pos, quoted] if quoted

        value = scanner.check(/.*/).to_s.sub(/\s+\z/, '')
        return nil if value.empty? || scanner.check(MASKED_VALUE)
        return nil if loose && value_words(value).none? { |word| value_like?(word) }
        return nil if key.weak && !key.strong && prose?(value)

        [start, start + value.bytesize, masked(value, key.kind)]
      end

      # A JSON array or object after a quoted key, to its closing bracket or the end of the line.
      def nested(scanner)
        value = +''
        depth = 0
        until scanner.eos?
          piece = scanner.scan(/"(?:[^"\\]|\\.)*"?|[^"\[\]{}]+|./)
          value << piece
          depth += 1 if piece == '[' || piece == '{'
          depth -= 1 if piece == ']' || piece == '}'
          break if depth.zero?
        end
        value
      end

      # A value in quotes (escapes honoured, JSON-escaped quotes too): the quotes kept, the inside
      # masked; a missing closing quote masks to the end of the line. nil when no quote starts here.
      #
      # A closing quote with more of a word right after it was no quote: the value began with a quote
      # character, and the whole rest of the line is masked (nil here, so the caller does that).
      def quoted_value(scanner, kind = :secret, after_quote = QUOTE_END)
        start = scanner.pos
        opening = scanner.scan(/\\*["'`“”„«»‘‹「『]/)
        return nil unless opening

        quote = opening[-1]
        escapes = opening[0...-1]
        closing = "#{escapes}#{CLOSING.fetch(quote, quote)}"
        inside = scanner.scan(inside_pattern(escapes, CLOSING.fetch(quote, quote))).to_s
        found = scanner.scan(literal(closing))
        if found && !scanner.eos? && !scanner.check(after_quote)
          scanner.pos = start
          return nil
        end
        "#{opening}#{masked(inside, kind)}#{found}"
      end

      # What lies inside quotes: up to the closing quote, backslash escapes honoured; for JSON-escaped
      # quotes (\") up to the same escaped quote.
      def inside_pattern(escapes, closing)
        (@inside ||= {})[[escapes, closing]] ||=
          if escapes.empty?
            doubled = closing == "'" ? "|''" : ''
            Regexp.new("(?:[^#{Regexp.escape(closing)}\\\\]|\\\\.#{doubled})*")
          else
            Regexp.new("(?:(?!#{Regexp.escape(escapes + closing)}).)*")
          end
      end

      # What a quote that holds a key and its value encloses after the key, to its closing quote.
      def enclosed_pattern(quote)
        inside_pattern(quote[0...-1], CLOSING.fetch(quote[-1], quote[-1]))
      end

      def literal(text)
        LITERALS[text] ||= Regexp.new(Regexp.escape(text))
      end

      def masked(value, kind)
        case kind
        when :cookie then cookie_names(value)
        when :authorization then authorization(value)
        else MASK
        end
      end

      # "a=1; b=2" → "a=[REDACTED]; b=[REDACTED]"; attribute words (Secure, HttpOnly) kept.
      def cookie_names(value)
        value.split(/(;\s*|,\s+(?=[^=;,\s]+=))/, -1).map do |part|
          next part if part.match?(/\A(?:;\s*|,\s+)\z/) || part.empty?

          name, equals, = part.partition('=')
          if equals.empty?
            part.strip.match?(/\A(?:Secure|HttpOnly|Partitioned)\z/i) ? part : MASK
          else
            "#{name.match?(/\A\s*[\w.\-$%!#&*+^|~]{1,64}\z/) ? name : MASK}=#{MASK}"
          end
        end.join
      end

      # The scheme word kept ("Basic", "Bearer"), everything after it masked.
      def authorization(value)
        match = AUTH_SCHEME.match(value)
        match ? "#{match[1]}#{match[2]}#{MASK}" : MASK
      end

      # A quoted key followed by "," and its value: ["Authorization", "Bearer x"] or HAR's
      # {"name": "Authorization", "value": "Bearer x"}.
      def pair_value(line, scanner, key)
        scanner.skip(/[ \t]*,[ \t]*/)
        scanner.skip(/\\*["']?value\\*["']?[ \t]*(?::|=>?)[ \t]*/i)
        start = scanner.pos
        quoted = quoted_value(scanner, key.kind)
        quoted ? [start, scanner.pos, quoted] : (scanner.pos = start; nil)
      end

      # An unquoted key that opens a pair: Erlang's "{password, "X"}", Elixir's "{:password, "X"}".
      def pair_opened?(line, key)
        text_before(line, key.start, [0, key.start - 8].max).match?(/[{(\[][ \t]*:?\z/)
      end

      # A line of a setting's name and one word, perhaps with a comment, as redis, hostapd or keepalived
      # configurations hold them ("psk walnut2024", "auth_pass X"): the word is the value even after a
      # weak key, when it looks like one.
      def setting_line?(line, scanner, key)
        label?(line, key) && scanner.check(/\S+[ \t]*(?:[#;].*)?\z/)
      end

      # <password>value</password>, <entry key="password">value</entry>, plist <key>…</key><string>.
      def element?(line, scanner, key)
        return true if scanner.check(%r{</key>}i)

        scanner.check(/>/) && (key.quote || line.byteslice(key.start - 1, 1) == '<')
      end

      def element_value(line, scanner, key)
        scanner.skip(/>/)
        record = key.record && record_value(scanner) # <key>SyncToken</key><string>…</string>
        return record if record

        scanner.skip(%r{[ \t]*(?:</key>[ \t]*<(?:string|data|integer)>|</key>)}i)
        start = scanner.pos
        value = scanner.scan(/[^<]*/).to_s
        return nil if value.strip.empty? || value == MASK

        [start, scanner.pos, masked(value, key.kind)]
      end

      # "--password hunter2", netrc's "password hunter2", "password 'x y'": the next word. A plain
      # key with a plain word after it ("password expired") is prose and stays.
      def spaced_value(line, scanner, key, name)
        start = scanner.pos
        if !key.flag && (quoted = quoted_value(scanner, key.kind))
          return [start, scanner.pos, quoted]
        end

        # Options between a setting and its value ("rootpw --plaintext X", as a kickstart file has it).
        scanner.skip(/(?:--[a-z][a-z\-]{1,30}[ \t]+){1,2}(?=[^\s\-])/) unless key.flag || name
        value_start = scanner.pos
        word = scanner.scan(name ? /.+/ : SHELL_WORD).to_s
        judged = (name ? word[SHELL_WORD].to_s.sub(/\.[A-Za-z0-9]{1,5}\z/, '') : word).sub(/[.,;:!?)\]]+\z/, '')
        return (scanner.pos = start; nil) if word.empty? || judged == MASK

        # In a name, a weak key ("Key loft", "Session 2") takes the next word only when it looks like a value.
        unless (name && !key.weak) || key.netrc || (key.flag ? flag_value?(judged, key) : secret_looking_word?(judged))
          scanner.pos = start
          return nil
        end
        [value_start, scanner.pos, masked(word, key.kind)]
      end

      # The value of a flag: always after a strong key ("--password x"); after a weak one
      # ("--auth-local peer") when quoted or when it looks like a value.
      def flag_value?(word, key)
        !key.weak || FLAG_VALUE.include?(key.part) || word.match?(/\A["']/) || word.match?(/\p{N}|[^\p{L}\p{M}\-]/)
      end

      # After a plain key and a blank: prose ("password expired", "passwd (1:4.13-1)") or a value.
      def secret_looking_word?(word)
        word.match?(/\A[^(\[{<]*[\p{L}\p{N}]/) && value_like?(word)
      end

      def value_words(value)
        value.split(/\s+/, 3).first(2).map { |word| word.sub(/[.,;:!?)\]]+\z/, '') }
      end

      # After a weak key ("auth is disabled", "session for jo: opened"): a lowercase word with a plain
      # one after it.
      def prose?(value)
        words = value_words(value)
        words.first.match?(/\A\p{Ll}{2,}\z/) && !value_like?(words[1].to_s)
      end

      # A word with a digit, a symbol, a capital inside or many letters: not a word of prose.
      def value_like?(word)
        word.match?(/\p{N}/) || word.match?(/[^\p{L}\p{M}]/) || word.match?(/\A.+\p{Lu}/) || word.length >= 12
      end

      # "密码是abc123" or "密码：abc": the rest of the line after the word for a password.
      def unspaced_value(line, scanner, key)
        scanner.pos = key.stem_end
        scanner.skip(/[是为為はが]?[：:=＝\s]*/)
        start = scanner.pos
        value = scanner.scan(/.+/).to_s
        return nil if value.strip.empty?

        [start, scanner.pos, MASK]
      end

      # Inside a name: "export_pwd_Hunter2.csv" → "export_pwd_[REDACTED]".
      def inside_edit(line, key)
        ident = line.byteslice(key.start, key.stop - key.start)
        value = ident[key.inside..-1].sub(/\A[_.\-]/, '')
        return [nil, nil] if value.empty?

        start = key.stop - value.bytesize
        rest = line.byteslice(key.stop, line.bytesize - key.stop)
        stop = key.stop + rest[/\A[^\s]*/].bytesize
        [[start, stop, MASK], nil]
      end

      def indentation(line)
        line[/\A[ \t]*/].length
      end

      def apply(line, edits)
        return line if edits.empty?

        result = +''
        position = 0
        edits.each do |start, stop, replacement|
          result << line.byteslice(position, start - position) << replacement
          position = stop
        end
        result << line.byteslice(position, line.bytesize - position)
        result.force_encoding(Encoding::UTF_8)
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Layer 3: shape

    module Shape
      PREFIXED = Regexp.new(
        '(?<![A-Za-z0-9])(?:A3T[A-Z0-9]|AKIA|ASIA|AGPA|AIDA|AROA|AIPA|ANPA|ANVA|APKA|ABIA|ACCA)[A-Z0-9]{12,}|' \
        '(?<![A-Za-z0-9_\-])(?:' \
        'gh[pousr]_[A-Za-z0-9_]{16,}|github_pat_[A-Za-z0-9_]{16,}|' \
        'gl(?:pat|dt|rt|ptt|soat|cbt|oas|ft|imt|agent)-[A-Za-z0-9_\-]{16,}|GR1348941[A-Za-z0-9_\-]{16,}|' \
        'xox[abposre]-[A-Za-z0-9\-]{10,}|xapp-[A-Za-z0-9\-]{10,}|' \
        '[sprw]k_(?:live|test)_[A-Za-z0-9]{10,}|whsec_[A-Za-z0-9]{16,}|' \
        'AIza[A-Za-z0-9_\-]{30,}|ya29\.[A-Za-z0-9_.\-]{20,}|GOCSPX-[A-Za-z0-9_\-]{16,}|1//0[A-Za-z0-9_\-]{30,}|' \
        'sk-(?:proj-|ant-|svcacct-|admin-|or-v1-)?[A-Za-z0-9_\-]{20,}|' \
        'SG\.[A-Za-z0-9_\-]{16,}\.[A-Za-z0-9_\-]{16,}|' \
        'npm_[A-Za-z0-9]{30,}|pypi-[A-Za-z0-9_\-]{30,}|dckr_pat_[A-Za-z0-9_\-]{20,}|' \
        'shp(?:at|ss|ca|pa)_[A-Za-z0-9]{20,}|hv[sbr]\.[A-Za-z0-9_\-]{20,}|do[opr]_v1_[a-f0-9]{30,}|' \
        'lin_api_[A-Za-z0-9]{20,}|figd_[A-Za-z0-9_\-]{20,}|ntn_[A-Za-z0-9]{20,}|secret_[A-Za-z0-9]{30,}|' \
        'PMAK-[A-Za-z0-9\-]{20,}|NRAK-[A-Z0-9]{20,}|ATATT[A-Za-z0-9_\-=]{20,}|sq0(?:atp|csp)-[A-Za-z0-9_\-]{20,}|' \
        'EAA[A-Za-z0-9]{30,}|r8_[A-Za-z0-9]{30,}|hf_[A-Za-z0-9]{30,}|gsk_[A-Za-z0-9]{30,}|' \
        'AGE-SECRET-KEY-1[0-9A-Z]{40,}|key-[0-9a-f]{32}|access_token\$production\$[A-Za-z0-9$]{20,}|' \
        'dapi[a-f0-9]{32}|pscale_(?:tkn|pw)_[A-Za-z0-9_\-]{30,}|glc_[A-Za-z0-9+/=]{30,}|' \
        'AccountKey=[^;\s"\']+|SharedAccessSignature=[^;\s"\']+|sig=[A-Za-z0-9%+/=]{20,})|' \
        '(?<![0-9])[0-9]{8,10}:AA[A-Za-z0-9_\-]{30,}'
      ).freeze
      # What every token PREFIXED knows holds; a cheap test before the pattern runs.
      PREFIXES = %w[AKIA ASIA AGPA AIDA AROA AIPA ANPA ANVA APKA ABIA ACCA A3T gho_ ghu_ ghs_ ghr_ ghp_
                    github_pat_ glpat- gldt- glrt- glptt- glsoat- glcbt- gloas- glft- glimt- glagent- glc_
                    GR1348941 xox xapp- k_live_ k_test_ whsec_ AIza ya29. GOCSPX- 1//0 sk- SG. npm_ pypi-
                    dckr_pat_ shpat_ shpss_ shpca_ shppa_ hvs. hvb. hvr. _v1_ lin_api_ figd_ ntn_ secret_
                    PMAK- NRAK- ATATT sq0 EAA r8_ hf_ gsk_ AGE-SECRET-KEY- key- access_token$ dapi pscale_
                    AccountKey= SharedAccessSignature= sig= :AA].freeze
      JWT = /(?<![A-Za-z0-9_\-])eyJ[A-Za-z0-9_\-]{6,}\.[A-Za-z0-9_\-]{4,}(?:\.[A-Za-z0-9_\-]*){1,3}/.freeze
      # A whole run of digits with single blanks or dashes between them; card numbers are looked for
      # inside it, so that a number before or after one (a date, a count) does not hide it.
      CARD = /(?<![\p{N}.,])\d(?:[ \-]?\d){12,}(?![\p{N}])/.freeze
      DASHED = /(?<![A-Za-z0-9_\-\/.:])[A-Za-z0-9]{2,8}(?:-[A-Za-z0-9]{2,8}){1,11}(?![A-Za-z0-9_\/\-])/.freeze
      SPACED = /(?<![A-Za-z0-9_\-\/.:])(?:[A-Za-z0-9]{4}(?:[ ][A-Za-z0-9]{4}){3,}|[A-Za-z0-9]{5}(?:[ ][A-Za-z0-9]{5}){3,})
                (?![A-Za-z0-9_\/\-])/x.freeze
      SPACED_SKETCHES = ['aaaa aaaa aaaa aaaa', 'aaaaa aaaaa aaaaa aaaaa'].freeze
      PHRASE = /(?<![\p{L}\p{N}\-'’])(?:[a-z]{3,8} ){11,}[a-z]{3,8}(?![\p{L}\p{N}\-'’])/.freeze
      SKETCH_FROM = '0-9A-Za-z+/_=-'
      RUN_FROM = 'A-Za-z0-9+/_\\-'
      NOT_RUN = /[^a]/n.freeze
      SKETCH_TO = "#{'0' * 10}#{'a' * 52}b"
      RUN_SKETCH = ('a' * 16).freeze
      CARD_SKETCH = ('0' * 13).freeze
      PHRASE_SKETCH = (['a'] * 12).join(' ').freeze
      SAMPLE = 4096
      UUID = /\A\/?[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\z/.freeze
      HEX = /\A(?:0x)?(?:[0-9a-f]+|[0-9A-F]+)\z/.freeze
      BASE64 = %r{\A[A-Za-z0-9+/]{16,}={0,2}\z}.freeze
      # Common English letter pairs: a run in which many pairs are common reads like words, not like
      # a random key.
      COMMON_PAIRS = %w[th he in er an re on at en nd ti es or te of ed is it al ar st to nt ng se ha as ou
                        io le ve co me de hi ri ro ic ne ea ra ce li ch ll be ma si om ur ca el ta la ns
                        di fo ho pe].freeze
      COMMON = COMMON_PAIRS.to_h { |pair| [pair, true] }.freeze
      # The largest share of common letter pairs a random run may have, by alphabet.
      WORDLIKE = { mixed: 0.3, single: 0.35 }.freeze
      # Lowest entropy (bits per character) of a random run by alphabet and length (about the first
      # percentile of random runs of that length).
      ENTROPY = { mixed: [[14, 3.2], [16, 3.3], [20, 3.5], [24, 3.6], [32, 3.95], [40, 4.2]],
                  hex: [[16, 2.6], [20, 2.8], [24, 2.95], [32, 3.15], [40, 3.3]],
                  single: [[16, 3.0], [20, 3.3], [24, 3.45], [32, 3.7], [40, 3.85]] }.freeze
      STOPWORDS = %w[the and for not with from that this was are has have had does did but you your
                     will can been were into when which there their they them then than its our out
                     all any some what who how why where here over under after before about also
                     only just more most such very same other each both few own should would could
                     must may might shall being while because until again further once].to_h { |w| [w, true] }.freeze

      module_function

      # prefixes: whether the line holds one of PREFIXES.
      # Each pattern runs only on lines whose sketch (letters as "a", digits as "0", the other characters
      # of key runs as "b", made by tr, which costs far less than a pattern) shows it could match.
      def call(line, prefixes = true)
        line = line.gsub(PREFIXED, MASK) if prefixes
        line = line.gsub(JWT, MASK) if line.include?('eyJ')
        sketch = line.tr(SKETCH_FROM, SKETCH_TO)
        if sketch.include?('0000') && sketch.delete(' b').include?(CARD_SKETCH)
          line = line.gsub(CARD) { |digits| card(digits) }
        end
        if sketch.include?('a0') || sketch.include?('0a')
          line = line.gsub(DASHED) { |code| code?(code, '-') ? MASK : code } if line.include?('-')
          groups = sketch.tr('0', 'a')
          line = line.gsub(SPACED) { |words| spaced_codes(words) } if SPACED_SKETCHES.any? { |form| groups.include?(form) }
        end
        line = line.gsub(PHRASE) { |words| phrase?(words) ? MASK : words } if phrase_sketch?(line)
        runs(line)
      end

      # Every run of 16 or more base64, base64url, base32 or hex characters (with up to three "=" after
      # it) judged by #run. The
      # runs are found in a sketch of the line by plain substring search, which costs far less than a
      # pattern with character classes; the sketch has the line's bytes where it matters, so byte
      # offsets carry over.
      def runs(line)
        sketch = line.b.tr(RUN_FROM, 'a')
        return line unless sketch.include?(RUN_SKETCH)

        bytes = line.b
        out = nil
        last = 0
        position = 0
        while (start = sketch.index(RUN_SKETCH, position))
          stop = sketch.index(NOT_RUN, start) || sketch.bytesize
          pad = 0
          pad += 1 while pad < 3 && sketch.getbyte(stop + pad) == 61 # "="
          stop += pad
          text = bytes.byteslice(start, stop - start).force_encoding(Encoding::UTF_8)
          judged = run(text)
          unless judged.equal?(text)
            (out ||= ''.b) << bytes.byteslice(last, start - last) << judged.b
            last = stop
          end
          position = stop
        end
        return line unless out

        (out << bytes.byteslice(last, bytes.bytesize - last)).force_encoding(Encoding::UTF_8)
      end

      # The longest start of a run of digits (a number may follow a card number, "4111 1111 1111 1111
      # 404") that is a card number, masked.
      def card(text)
        groups = text.split(/(?<=\d)(?=[ \-])/)
        result = +''
        first = 0
        while first < groups.size
          last = card_end(groups, first)
          if last
            lead = groups[first][/\A[ \-]*/]
            result << lead << MASK
            first = last + 1
          else
            result << groups[first]
            first += 1
          end
        end
        result
      end

      # The last group of the longest card number starting at group first (at most 19 digits), or nil.
      def card_end(groups, first)
        digits = 0
        last = first
        last += 1 while last < groups.size && (digits += groups[last].count('0-9')) <= 19
        (last - 1).downto(first) do |candidate|
          return candidate if card?(groups[first..candidate].join.sub(/\A[ \-]+/, ''))
        end
        nil
      end

      # Twelve words or more in a row, by a sketch: lowercase words as "a", anything else but blanks "x".
      def phrase_sketch?(line)
        line.count(' ') >= 11 && line.count('a-z') >= 36 &&
          line.tr('a-z', 'a').tr('^a ', 'x').squeeze('a').include?(PHRASE_SKETCH)
      end

      # 13 to 19 digits with a card issuer's first digits that pass the Luhn check; spaces or dashes
      # only between groups, one kind per number.
      def card?(text)
        separators = text.delete('0-9')
        return false unless separators.empty? || (separators.squeeze.length == 1 && card_groups?(text))

        digits = text.delete('^0-9')
        return false unless digits.length.between?(13, 19) && issuer?(digits)

        luhn?(digits)
      end

      # Groups as cards print them: fours (the last may be shorter), or 4-6-5 and 4-6-4.
      def card_groups?(text)
        sizes = text.split(/[ \-]/).map(&:length)
        [[4, 6, 5], [4, 6, 4]].include?(sizes) || (sizes[0...-1].all?(4) && sizes.last.between?(1, 4))
      end

      def issuer?(digits)
        first = digits[0]
        return digits[0, 4].to_i.between?(2221, 2720) if first == '2'

        %w[3 4 5 6].include?(first)
      end

      def luhn?(digits)
        sum = 0
        digits.reverse.each_char.with_index do |char, index|
          value = char.to_i
          value *= 2 if index.odd?
          sum += value > 9 ? value - 9 : value
        end
        (sum % 10).zero?
      end

      # Four or more groups of one length ("JBSW Y3DP EHPK 3PXP"); plain words at either end ("code
      # JBSW …") are not part of the code.
      def spaced_codes(words)
        groups = words.split(' ')
        first = groups.index { |group| !plain_group?(group) } || groups.size
        last = groups.rindex { |group| !plain_group?(group) } || -1
        return words if last - first < 3 || !code?(groups[first..last].join(' '), ' ')

        (groups[0...first] + [MASK] + groups[(last + 1)..-1]).join(' ')
      end

      def plain_group?(group)
        !group.match?(/\d/) && word_share(group) >= 0.6
      end

      # Groups of letters and digits ("A3-K7P2QX-…", "JBSW Y3DP EHPK 3PXP", "1a2b3-4c5d6") that mix
      # both and read like no words.
      def code?(code, separator)
        groups = code.split(separator)
        letters = code.count('A-Za-z')
        digits = code.count('0-9')
        return false if letters.zero? || digits.zero?

        total = letters + digits
        mixed = groups.count { |group| group.match?(/[A-Za-z]/) && group.match?(/\d/) }
        if separator == ' '
          # Seeds written in groups ("JBSW Y3DP EHPK 3PXP"): four or more groups of one length.
          return false unless groups.size >= 4 && groups.map(&:length).uniq.size == 1 && total >= 16
        else
          return false unless total >= 10 && (groups.size >= 3 || groups.all? { |group| group.length >= 4 })
          return false unless mixed * 2 >= groups.size
          # Every group of a code holds a digit or is upper case; "qt6-l10n-tools" is a name.
          return false unless groups.all? { |group| group.match?(/\d/) || !group.match?(/[a-z]/) }
        end
        return false if groups.size == 2 && letter_digit_changes(code) < 4

        word_share(code) <= 0.35 && entropy(code.delete(separator)) >= 2.8
      end

      def letter_digit_changes(code)
        code.scan(/[A-Za-z](?=\d)|\d(?=[A-Za-z])/).size
      end

      # Twelve or more plain lowercase words with hardly any of the little words of prose: a recovery
      # phrase.
      def phrase?(words)
        list = words.split(' ')
        list.count { |word| STOPWORDS[word] } * 8 <= list.size
      end

      # A run of base64, base64url, base32 or hex characters: masked when it looks random; a path's
      # random parts masked one by one.
      def run(run)
        return run if run.match?(UUID)
        return MASK if run.include?('/') && encoded_text?(run) # base64 of "user:password" holds "/" now and then
        return path(run) if run.include?('/') && path?(run)
        return MASK if random?(run)

        if run.match?(/[_\-]/)
          run.split(/([_\-])/).map { |part| random?(part) ? MASK : part }.join
        else
          run
        end
      end

      # A run with slashes is a path when its parts read like names ("usr", "lib64", "Library"): half
      # of them, or the first and one more; base64, which holds a "/" now and then, has few such parts.
      def path?(run)
        parts = run.split('/').reject(&:empty?)
        named = parts.map { |part| name_part?(part) }
        named.count(true) * 2 >= parts.size || (named.first && parts.first.length >= 3 && named.count(true) >= 2)
      end

      # "usr", "lib64", "x-linux", "Library", "KeyloftState", "CA", "2026".
      def name_part?(part)
        part.match?(/\A(?:[a-z]|[a-z]{2,}[a-z._\-]*\d*|[a-z]+(?:[._\-][a-z0-9]+)+|\d+|(?:[A-Z][a-z]{2,})+\d*|[A-Z]{2,6}\d*)\z/)
      end

      # A path's random parts masked, and the short jumbled ones beside them.
      def path(run)
        parts = run.split('/', -1)
        return run unless parts.any? { |part| random?(part) }

        parts.map { |part| random?(part) || (part.length >= 6 && jumbled?(part)) ? MASK : part }.join('/')
      end

      # Whether a run of 16 or more characters looks like a random key.
      def random?(run)
        return false if run.length < 16

        text = run.end_with?('=') ? run.sub(/=+\z/, '') : run
        return false if text.length < 16

        upper = text.count('A-Z')
        lower = text.count('a-z')
        digits = text.count('0-9')
        return false if upper.zero? && digits.zero?

        others = text.length - upper - lower - digits
        return false if others * 6 > text.length
        return hex?(text, digits) if text.match?(HEX)

        core = text.delete('^A-Za-z0-9')
        return false if core.length < 14

        padded = text.length < run.length && (run.length % 4).zero?
        random = if upper.positive? && lower.positive?
                   mixed_random?(text, core, upper, lower, digits, others, padded)
                 else
                   single_random?(text, core, upper, digits, others)
                 end
        random || encoded_text?(run)
      end

      # Upper and lower case: base64, base64url, base58 and the like.
      def mixed_random?(text, core, upper, lower, digits, others, padded)
        return false if !padded && (upper < 2 || lower < 2)
        return false if changes(core) < (padded ? 0.0 : (digits.zero? ? 0.35 : 0.25))
        # Camel-case names ("refreshKrb5Config", "GlobalSign_Root_R46") are made of words: lowercase
        # runs, longer than a random run has them, that read like English or stand between separators.
        return false if lower_runs(core) >= 3 && (others >= 2 || word_share(text) >= WORDLIKE[:mixed])

        entropy(core) >= threshold(:mixed, core.length)
      end

      # One case and digits: base32, base36.
      def single_random?(text, core, upper, digits, others)
        return false if others.positive? || digits.zero?
        # Lowercase names with a version or two in them ("libqt6printsupport6") have few digit groups.
        return false if upper.zero? && text.scan(/\d+/).size < 3

        entropy(core) >= threshold(:single, core.length) && word_share(text) <= WORDLIKE[:single]
      end

      # Base64 of printable text (credentials, a phrase): a decoded run of 12 or more printable ASCII
      # characters, which random or word-like runs almost never decode to.
      def encoded_text?(run)
        return false unless (run.length % 4).zero? && run.match?(BASE64)

        decoded = run.unpack1('m')
        decoded.bytesize >= 12 && decoded.match?(/\A[\x20-\x7E]+\z/n)
      end

      def hex?(text, digits)
        text = text.sub(/\A0x/, '')
        letters = text.length - digits
        return false if text.length < 16 || digits < 2 || letters < 2

        entropy(text) >= threshold(:hex, text.length)
      end

      # A short part of a path next to a random one that changes case and digits like a random one.
      def jumbled?(part)
        part.match?(/[A-Z]/) && part.match?(/[a-z0-9]/) && changes(part.delete('^A-Za-z0-9')) >= 0.45
      end

      def threshold(kind, length)
        ENTROPY.fetch(kind).reverse_each { |minimum, bits| return bits if length >= minimum }
        ENTROPY.fetch(kind).first.last
      end

      # Measured on at most SAMPLE characters: a longer run is judged by its start.
      def entropy(text)
        text = text[0, SAMPLE]
        size = text.length.to_f
        -text.each_char.tally.values.sum { |count| (count / size) * Math.log2(count / size) }
      end

      # The mean length of the runs of lowercase letters.
      def lower_runs(core)
        runs = core[0, SAMPLE].scan(/[a-z]+/)
        runs.empty? ? 0.0 : runs.sum(&:length).to_f / runs.size
      end

      # How often neighbouring characters change between upper case, lower case and digit.
      def changes(core)
        kinds = core.tr('A-Z', 'U').tr('a-z', 'l').tr('0-9', 'd')
        return 0.0 if kinds.length < 2

        kinds.squeeze.length.pred.to_f / kinds.length.pred
      end

      # The share of letter pairs that are common in English words.
      def word_share(text)
        pairs = hits = 0
        text[0, SAMPLE].downcase.scan(/[a-z]{3,}/) do |letters|
          (letters.length - 1).times do |index|
            pairs += 1
            hits += 1 if COMMON[letters[index, 2]]
          end
        end
        pairs.zero? ? 0.0 : hits.to_f / pairs
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Key blocks across lines

    module Blocks
      BEGIN_MARK = /-----BEGIN ([A-Z0-9 ]{1,60})-----/.freeze
      END_MARK = /-----END ([A-Z0-9 ]{1,60})-----/.freeze
      # A line of a key block's body or its headers ("Proc-Type: 4,ENCRYPTED").
      BODY = %r{\A[\s"'>|*#,]*(?:[A-Za-z0-9+/=]{1,200}|[A-Za-z\-]+:\s.*)[\s"',\\n]*\z}.freeze
      PUTTY_LINES = /\A\s*Private-Lines:\s*(\d{1,4})\s*\z/.freeze
      BEFORE_END = /\A.*?(?=#{END_MARK})/.freeze

      module_function

      # Masks what a line holds of key blocks that start and, perhaps, end in it. Answers [line, true
      # when a block stays open at its end].
      def inline(line)
        return [line, false] unless line.include?('-----BEGIN ')

        open = false
        result = line.gsub(/(#{BEGIN_MARK})(.*?)(#{END_MARK}|\z)/o) do
          match = Regexp.last_match
          open = match[4].empty?
          "#{match[1]}#{MASK}#{match[4]}"
        end
        [result, open]
      end
    end

    # -------------------------------------------------------------------------------------------------
    # Escaped text

    # Text that another program escaped ("next=%2Fa%3Faccess_token%3D…", "https%3A%2F%2Fu%3Apw%40host",
    # JSON's "token\u003d…", HTML's "token&#61;…", escaped twice as "%253D"): the structure and
    # key-value layers see the line decoded, and what they mask is masked where it was written; the
    # rest is shown as it came.
    module Encoded
      # The escaped characters that give text its structure: blank, quotes, "#", "&", ",", "/", ":",
      # ";", "=", "?", "@".
      STRUCTURE = '(?:2[023467CcFf]|3[ABDFabdf]|40)'
      ESCAPE = Regexp.new("%(?:25)*#{STRUCTURE}|\\\\(?:u00|x)#{STRUCTURE}|&#[xX]#{STRUCTURE};|" \
                          '&#(?:3[24589]|4[47]|5[89]|6[134]);|&(?:amp|quot|apos);').freeze
      # One escaped printable ASCII character, or a percent-encoded UTF-8 character ("%C3%B3"); another
      # escape, or a "%" alone, stays as it is.
      ONE = Regexp.new('%[2-7]\h|%[C-Fc-f]\h(?:%[89ABab]\h){1,3}|\\\\u00[2-7]\h|\\\\x[2-7]\h|&#[xX][2-7]\h;|' \
                       '&#(?:3[2-9]|[4-9]\d|1[01]\d|12[0-6]);|&(?:amp|quot|apos);', nil, 'n').freeze
      NAMED = { '&amp;' => '&', '&quot;' => '"', '&apos;' => "'" }.freeze
      # Each escape's character, found once.
      DECODED = Hash.new do |table, escape|
        table.clear if table.size > 1024
        code = escape.match?(/\A&#\d/) ? escape[2..-2].to_i : escape.delete(';')[-2, 2].hex
        table[escape] = NAMED[escape] || (escape.count('%') > 1 ? [escape.delete('%')].pack('H*') : code.chr)
      end
      LEVELS = 3

      module_function

      # The line with what the structure and key-value layers find in its decoded form masked where
      # it was written. stems, schemes: as found for the line as it came (see Triggers): escapes
      # stand for structure, not for the letters of a key.
      def call(line, stems, schemes)
        return line unless line.match?(ESCAPE)

        bytes = line.b
        levels = []
        view = bytes
        LEVELS.times do
          break unless view.match?(ESCAPE)

          view, *map = decode(view)
          levels.unshift(map)
        end
        # Bytes that are no UTF-8 read as "?", one for one, so that offsets carry over.
        view = view.force_encoding(Encoding::UTF_8).scrub { |bad| '?' * bad.bytesize }

        stems += KeyValue::OTHER_STEMS.select { |stem| view.include?(stem) } unless view.ascii_only?
        out = KeyValue.call(Structure.call(view, schemes), stems: stems).first
        return line if out == view

        spans = masked_spans(view.b, out.b) || [[0, view.bytesize]]
        spans = spans.map do |span|
          levels.inject(span) { |(from, to), map| [source(map, from, false), source(map, to - 1, true)] }
        end
        apply(bytes, spans)
      end

      # [the text with every escape decoded; for each escape, where its character starts in that text
      # and where it ends, where the escape starts in the text given and where it ends].
      def decode(bytes)
        starts = []
        ends = []
        offsets = []
        stops = []
        shift = 0
        text = bytes.gsub(ONE) do |escape|
          at = Regexp.last_match.begin(0)
          char = DECODED[escape]
          starts << at - shift
          ends << at - shift + char.bytesize
          offsets << at
          stops << at + escape.bytesize
          shift += escape.bytesize - char.bytesize
          char
        end
        [text, starts, ends, offsets, stops]
      end

      # Where the decoded byte at offset begins (or, with stop, ends) in the text it was decoded from.
      def source(map, offset, stop)
        starts, ends, offsets, stops = map
        index = (starts.bsearch_index { |start| start > offset } || starts.size) - 1
        return offset + (stop ? 1 : 0) if index.negative?
        return stop ? stops[index] : offsets[index] if offset < ends[index]

        stops[index] + (offset - ends[index]) + (stop ? 1 : 0)
      end

      # The spans of view that out shows as MASK, out being view with spans replaced by MASK. The
      # pieces kept between the masks are placed as early and as late as they fit; each mask covers
      # all its span may be (exact when both agree). nil when out does not fit view.
      def masked_spans(view, out)
        pieces = out.split(MASK.b, -1)
        return nil if pieces.size < 2

        first = pieces.shift.bytesize
        last = pieces.pop
        limit = view.bytesize - last.bytesize
        return nil unless view.end_with?(last) && view.start_with?(out.byteslice(0, first)) && first < limit

        ends = []
        from = first
        pieces.each do |piece|
          at = view.index(piece, from + 1)
          return nil unless at && at + piece.bytesize < limit

          ends << (from = at + piece.bytesize)
        end
        starts = []
        to = limit
        pieces.reverse_each do |piece|
          at = view.rindex(piece, to - 1 - piece.bytesize)
          return nil unless at && at > first

          starts.unshift(to = at)
        end
        [first, *ends].zip([*starts, limit])
      end

      def apply(bytes, spans)
        out = ''.b
        position = 0
        spans.each do |from, to|
          next if to <= position

          # A span that starts inside or right after the last one extends its mask.
          out << bytes.byteslice(position, from - position) << MASK if out.empty? || from > position
          position = to
        end
        (out << bytes.byteslice(position, bytes.bytesize - position)).force_encoding(Encoding::UTF_8)
      end
    end

    # -------------------------------------------------------------------------------------------------
    # The layers together

    # Which trigger words each line of a text holds, found once for the whole text by plain substring
    # search (a regular expression with many alternatives costs far more per byte), so that a line is
    # only searched for the words it holds and most lines skip most layers.
    class Triggers
      # text: the lines joined by line feeds.
      def initialize(text)
        bytes = text.b
        lower = bytes.downcase(:ascii)
        @starts = line_starts(bytes)
        stems = text.ascii_only? ? KeyValue::ASCII_STEMS : KeyValue::STEMS
        @stems = lines_holding(stems.map(&:b), lower) { |at, stop| KeyValue.whole_part?(bytes, lower, at, stop) }
        @schemes = lines_holding(Structure::SCHEMES, lower)
        @prefixes = lines_holding(Shape::PREFIXES, bytes)
        @commands = lines_holding(CommandLine::NEEDLES, lower) { |at, stop| command_word?(lower, at, stop) }
        @statements = lines_holding([Sql::NEEDLE], lower)
      end

      # The stems line index holds.
      def stems(index)
        @stems.fetch(index, [])
      end

      def scheme?(index)
        @schemes.key?(index)
      end

      def prefix?(index)
        @prefixes.key?(index)
      end

      def command?(index)
        @commands.key?(index)
      end

      def statement?(index)
        @statements.key?(index)
      end

      private

      # A program's name starts after a blank, a "/", a quote or an operator ("mysql", "/usr/bin/sudo",
      # not "library"); some needles anywhere ("chpasswd").
      def command_word?(lower, at, stop)
        return true if at.zero? || CommandLine::ANYWHERE.include?(lower.byteslice(at, stop - at))

        before = lower.getbyte(at - 1)
        !(before >= 97 && before <= 122) && !(before >= 48 && before <= 57) && before != 95
      end

      def line_starts(bytes)
        starts = [0]
        at = -1
        starts << at + 1 while (at = bytes.index("\n", at + 1))
        starts
      end

      # {line index => the needles found in it}; a block may refuse a find.
      def lines_holding(needles, haystack)
        found = {}
        needles.each do |needle|
          at = 0
          while (at = haystack.index(needle, at))
            stop = at + needle.bytesize
            (found[line_of(at)] ||= []) << needle if !block_given? || yield(at, stop)
            at = stop
          end
        end
        found.each_value(&:uniq!)
        found
      end

      def line_of(offset)
        (@starts.bsearch_index { |start| start > offset } || @starts.size) - 1
      end
    end

    class Redactor
      HEREDOC_LINES = 200
      SECRET_NAME = /\A[ \t\-]*["']?(?:name|key)["']?[ \t]*[:=][ \t]*["']?([\w.\-]{1,64})["']?[ \t]*,?[ \t]*\z/i.freeze
      NAMED_VALUE = /\A([ \t\-]*["']?value["']?[ \t]*[:=][ \t]*)(\S.*)\z/i.freeze
      # home: the home folder the product uses, or nil; database_home: the home of the user's entry in
      # the password database, when it differs.
      def initialize(home, database_home = nil)
        @home = Home.new(home, database_home)
      end

      # One line of outside text (a log line, an environment value, command output). Stateless: key
      # blocks and YAML blocks are only followed across lines by #lines.
      def line(text)
        text = Escaping.line(Decoding.text(text))
        redact(text, false, Triggers.new(text), 0).first
      end

      # A file name, link target or archive member name: every control character escaped, tabs too,
      # and a key's value found inside a word as well.
      def name(text)
        names([text]).first
      end
      alias path name

      # Many names at once (the entries of a folder): the same as #name for each, in less time.
      def names(texts)
        texts = texts.map { |text| Escaping.name(Decoding.text(text)) }
        triggers = Triggers.new(texts.join("\n"))
        texts.each_with_index.map { |text, index| redact(text, true, triggers, index).first }
      end

      # The lines of one text (a log's tail, the journal), in order: key blocks (BEGIN to END, the
      # body before an END whose BEGIN was cut off, PuTTY's private lines) and YAML blocks are followed
      # from line to line.
      def lines(rows)
        rows = rows.map { |row| Escaping.line(decoded(row).chomp("\r")) }
        triggers = Triggers.new(rows.join("\n"))
        out = []
        state = { block: false, yaml: nil, private_lines: 0, heredoc_lines: 0, named: 0 }
        rows.each_with_index { |row, index| out << next_line(row, state, out, [triggers, index]) }
        out
      end

      # A whole text: decoded, split into lines, each redacted (see #lines).
      def document(text)
        lines(Decoding.text(text).split("\n"))
      end

      # An environment value: proxies keep scheme, host and port; then every layer.
      def environment(name, value)
        text = value.to_s
        text = text.split(',', -1).map { |item| proxy(item) }.join(',') if name.to_s.downcase.end_with?('_proxy')
        line(text)
      end

      private

      def decoded(row)
        row.encoding == Encoding::UTF_8 && row.valid_encoding? ? row : Decoding.text(row)
      end

      # Answers [text, key block open at the end, YAML block indentation or nil].
      def redact(text, name, triggers, index)
        text = @home.replace(text)
        text, block = Blocks.inline(text)
        if text.include?('%') || text.include?('\\') || text.include?('&')
          text = Encoded.call(text, triggers.stems(index), triggers.scheme?(index))
        end
        text, heredoc = CommandLine.call(text) if triggers.command?(index)
        text = Sql.call(text) if triggers.statement?(index)
        text = Structure.call(text, triggers.scheme?(index))
        text, yaml = KeyValue.call(text, name: name, stems: triggers.stems(index))
        yaml ||= heredoc
        text = Shape.call(text, triggers.prefix?(index))
        [text, block, yaml]
      end

      def next_line(text, state, out, (triggers, index))
        if state[:private_lines].positive?
          state[:private_lines] -= 1
          return MASK
        end
        return named_value(text, state) if state[:named].positive? && text.match?(NAMED_VALUE)

        state[:named] = (text =~ SECRET_NAME && KeyValue.secret_name?(Regexp.last_match(1))) ? 2 : [state[:named] - 1, 0].max
        if state[:block] || (text.match?(Blocks::END_MARK) && !text.match?(Blocks::BEGIN_MARK))
          return MASK unless text.match?(Blocks::END_MARK)

          mask_body_before(out) unless state[:block]
          state[:block] = false
          text = text.sub(Blocks::BEFORE_END, MASK)
        elsif state[:yaml].is_a?(String)
          return "#{text[/\A[ \t]*/]}#{MASK}" unless heredoc_end?(text, state)

          text = closing_line(text, state[:yaml])
        elsif state[:yaml].is_a?(Integer) && yaml_value?(text, state[:yaml])
          return "#{text[/\A[ \t]*/]}#{MASK}"
        end
        state[:private_lines] = Regexp.last_match(1).to_i if text =~ Blocks::PUTTY_LINES
        text, state[:block], state[:yaml] = redact(text, false, triggers, index)
        text
      end

      # A setting given as a name and a value on lines of their own ("- name: DB_PASSWORD" then
      # "value: X", as Kubernetes and CI files list them): the value within the next two lines is masked.
      def named_value(text, state)
        state[:named] = 0
        lead, value = text.match(NAMED_VALUE).captures
        quote = value[0] if value.length > 1 && %w[' "].include?(value[0]) && value.end_with?(value[0])
        "#{lead}#{quote}#{MASK}#{quote}"
      end

      # A here-document's value ends at its terminator, or after HEREDOC_LINES lines when the tail holds
      # none (a value is a few lines; a log goes on).
      def heredoc_end?(text, state)
        state[:heredoc_lines] += 1
        closed = text.strip == state[:yaml] || (triple?(state[:yaml]) && text.include?(state[:yaml]))
        return false unless closed || state[:heredoc_lines] > HEREDOC_LINES

        state[:heredoc_lines] = 0
        true
      end

      def triple?(terminator)
        terminator.start_with?('"""', "'''")
      end

      # The line that closes a triple-quoted value ("lark""")"): what stands before the quotes is
      # the value's last line.
      def closing_line(text, terminator)
        at = triple?(terminator) && text.index(terminator)
        return text unless at && !text[0...at].strip.empty?

        "#{text[/\A[ \t]*/]}#{MASK}#{text[at..-1]}"
      end

      def yaml_value?(text, indent)
        text[/\A[ \t]*/].length > indent && !text.strip.empty?
      end

      # An END without its BEGIN (the start was cut off): the body lines just before it are masked.
      def mask_body_before(out)
        index = out.size - 1
        while index >= 0 && out[index].match?(Blocks::BODY)
          out[index] = MASK
          index -= 1
        end
      end

      # "user:p@ss/w@rd@proxy:3128" → "[REDACTED]@proxy:3128"; the scheme, host and port kept.
      def proxy(item)
        scheme = item[%r{\A\s*[A-Za-z][A-Za-z0-9+.\-]*://}].to_s
        rest = item[scheme.length..-1].to_s
        at = rest.rindex('@')
        return item unless at

        host = rest[(at + 1)..-1][%r{\A[^/?#\s]*}]
        "#{scheme}#{MASK}@#{host}"
      end
    end
  end
end
