# frozen_string_literal: true
#
# Redaction, checked as a property: random log lines with a random secret spliced in at a random place,
# in a random syntax, never come out with the secret (nor a six-character piece of it); random and
# hostile bytes come out as valid UTF-8 without a control character. The seed is fixed so that a
# failure can be replayed; KEYLOFT_FUZZ_SEED picks another.

require_relative 'helper'

class TestRedactionFuzz < Minitest::Test
  include LeakCheck

  SEED = Integer(ENV.fetch('KEYLOFT_FUZZ_SEED', '20261206'))
  WORDS = %w[sync started finished item vault user request retry failed ok queue opened closed at for in with
             from to the a of status build version cache folder error warning keyloft agent 200 404 503 1.2.3
             2026-12-06 18:47:03 [info] (debug) - : , ; ~/Library/Keyloft /usr/lib jo@example.com].freeze
  KEYS = ['password', 'passwd', 'pwd', 'pass', 'secret', 'token', 'api_key', 'apiKey', 'X-Api-Key', 'access_token',
          'auth_token', 'client_secret', 'masterKey', 'master_password', 'passphrase', 'pin', 'otp', 'session',
          'sessionId', 'private_key', 'recovery code', 'Passwort', 'mot de passe', 'contraseña', 'senha', 'пароль',
          '密码', 'DB_PASSWORD', 'refresh-token', 'csrfToken', 'key', 'backup code', '2FA code', 'one-time code',
          'Bestätigungscode', 'código de verificación', 'pass phrase', 'secret key', 'access token', 'Master Password',
          'Kennwort'].freeze
  PRINTABLE = [*'a'..'z', *'A'..'Z', *'0'..'9', *%w[! # $ % & ( ) * + , - . / : ; < = > ? @ [ ] ^ _ { | } ~ ']].freeze
  ALNUM = [*'a'..'z', *'A'..'Z', *'0'..'9'].freeze

  # Syntaxes for a key and its value; the value's characters are what the syntax allows.
  KEYED = [
    ->(key, value) { "#{key}=#{value}" },
    ->(key, value) { "#{key}: #{value}" },
    ->(key, value) { "#{key} = #{value}" },
    ->(key, value) { "{\"#{key}\":\"#{value.gsub('\\', '\\\\\\\\').gsub('"', '\\"')}\",\"n\":1}" },
    ->(key, value) { "'#{key}' => '#{value.gsub('\\', '\\\\\\\\').gsub("'", "\\\\'")}'" },
    ->(key, value) { "\"#{key}\"=>\"#{value.gsub('\\', '\\\\\\\\').gsub('"', '\\"')}\"" },
    ->(key, value) { "--#{key.tr(' ', '-')} '#{value.gsub("'", "'\\\\''")}' --verbose" },
    ->(key, value) { "--#{key.tr(' ', '-')}=#{value.delete(' ')}" },
    ->(key, value) { "<#{key.tr(' ', '_')}>#{value.delete('<')}</#{key.tr(' ', '_')}>" },
    ->(key, value) { "the #{key} #{%w[is was][value.length % 2]} \"#{value.delete('"')}\"" },
    ->(key, value) { "#{key} #{['is', 'set to', 'has been changed to'][value.length % 3]} #{value}" },
    ->(key, value) { "set#{key.split(/[ _\-]/).map(&:capitalize).join}(\"#{value.gsub('\\', '\\\\\\\\').gsub('"', '\\"')}\")" },
    ->(key, value) { "ENV['#{key}'] = '#{value.gsub('\\', '\\\\\\\\').gsub("'", "\\\\'")}'" },
    ->(key, value) { "#{key} #{['for root', 'für bob', '(again)', '[prod]', 'de juan', 'of user bob (old)'][value.length % 6]}: #{value}" },
    ->(key, value) { "next=#{"/cb?#{key}=#{value}".b.gsub(/[^A-Za-z0-9]/n) { |char| format('%%%02X', char.ord) }}" }
  ].freeze

  def setup
    @random = Random.new(SEED)
    @redact = Vantletools::Redaction::Redactor.new('/home/jo')
  end

  def pick(list) = list[@random.rand(list.size)]

  def string(alphabet, length) = Array.new(length) { pick(alphabet) }.join

  # Random words with the text spliced in between two of them.
  def splice(text)
    words = Array.new(@random.rand(0..12)) { pick(WORDS) }
    words.insert(@random.rand(0..words.size), text).join(' ')
  end

  def password
    string(PRINTABLE + [' '], @random.rand(6..24)).strip.then { |value| value.empty? ? 'Xq9!' : value }
  end

  def assert_never_leaks(cases)
    leaks = cases.filter_map do |line, secret|
      out = @redact.line(line)
      piece = leaked_piece(out, line, secret)
      "#{line.inspect} → #{out.inspect}: #{piece.inspect}" if piece
    end
    assert_empty leaks, "seed #{SEED}:\n#{leaks.first(20).join("\n")}"
  end

  def test_keyed_secrets_in_random_syntaxes_never_leak
    assert_never_leaks(Array.new(3000) { password.then { |value| [splice(pick(KEYED).call(pick(KEYS), value)), value] } })
  end

  def test_structured_secrets_never_leak
    forms = [
      ->(v) { "https://#{string(ALNUM, 5)}:#{v.delete(' ')}@sync.example.com:8443/v1/items" },
      ->(v) { "#{string(ALNUM, 5)}:#{v.delete(' ')}@proxy.example.com:3128" },
      ->(v) { "https://api.example.com/v2?#{string(ALNUM, 4)}=#{v.delete(' &#')}&page=2" },
      ->(v) { "Cookie: theme=dark; #{string(ALNUM, 6)}=#{v.delete(' ;,')}; lang=en" },
      ->(v) { "Authorization: Bearer #{v.delete(' ')}" },
      ->(v) { "{\"Authorization\": \"Basic #{["jo:#{v}"].pack('m0')}\"}" },
      ->(v) { "Proxy-Authorization: Basic #{["jo:#{v}"].pack('m0')}" },
      ->(v) { "sshpass -p '#{v.delete("'")}' ssh -p 22 h" },
      ->(v) { "mysql -u jo -p'#{v.delete("'")}' db" },
      ->(v) { "openssl enc -passin 'pass:#{v.delete("'")}' -in f" },
      ->(v) { "echo '#{v.delete("'")}' | sudo -S id" },
      ->(v) { "chpasswd <<< 'jo:#{v.delete("'")}'" }
    ]
    cases = Array.new(1500) do
      value = password.delete('"\\')
      value = "#{value}x" if value.delete(' ;,&#').empty?
      line = pick(forms).call(value)
      shown = line[/Basic (\S+?)"?\z/, 1] || value.delete(' ;,&#')
      [splice(line), shown]
    end
    assert_never_leaks(cases)
  end

  # Secrets with a shape of their own, with no key before them.
  def test_shaped_secrets_never_leak
    shapes = [
      -> { "ghp_#{string(ALNUM, 36)}" },
      -> { "AKIA#{string([*'A'..'Z', *'2'..'7'], 16)}" },
      -> { "xoxb-#{string([*'0'..'9'], 11)}-#{string(ALNUM, 24)}" },
      -> { "sk_live_#{string(ALNUM, 24)}" },
      -> { "eyJ#{string(ALNUM, 20)}.eyJ#{string(ALNUM, 30)}.#{string(ALNUM + %w[- _], 43)}" },
      -> { card },
      -> { ["jo@example.com:#{password}"].pack('m0') }
    ]
    assert_never_leaks(Array.new(1500) { pick(shapes).call.then { |secret| [splice(secret), secret] } })
  end

  # Random base64 and hex of the usual key sizes, bare: random?, so almost every one is masked.
  def test_random_keys_are_masked_almost_always
    keys = Array.new(2000) do
      [string(ALNUM + %w[+ /], 22) + '==', string([*'0'..'9', *'a'..'f'], 32), string(ALNUM, 40)].sample(random: @random)
    end
    missed = keys.reject { |key| @redact.line("loaded #{key} ok").include?('[REDACTED]') }
    assert_operator missed.size, :<=, keys.size / 100, "seed #{SEED}: #{missed.first(10).inspect}"
  end

  def test_any_bytes_come_out_as_clean_text
    hostile = ["\e[31m", "\r", "\0", "\u2028", "\u202E", "\xFF\xFE", "\xC3", "-----BEGIN ", '"', '\\"', "'", '=',
               ':', '@', '?', '#', '%2F', 'password', 'token=', 'eyJ', 'AKIA', '4111 ', '/home/jo', '//', '..',
               ' <<< ', ' | sudo -S ', 'mysql -p', ' for jo (a): ', '<<EOF']
    1000.times do
      line = Array.new(@random.rand(1..40)) do
        @random.rand < 0.5 ? pick(hostile).b : Array.new(@random.rand(1..8)) { @random.rand(256).chr }.join
      end.join.b
      out = @redact.line(line)
      assert out.valid_encoding?, line.inspect
      refute_match(/[\u0000-\u0008\u000A-\u001F\u007F-\u009F\u2028\u2029\u202A-\u202E]/, out, line.inspect)
    end
  end

  private

  # A card number of a card issuer that passes the Luhn check, in groups of four or not.
  def card
    digits = "4#{string([*'0'..'9'], 14)}"
    check = (0..9).find { |digit| Vantletools::Redaction::Shape.luhn?("#{digits}#{digit}") }
    number = "#{digits}#{check}"
    @random.rand < 0.5 ? number.scan(/\d{4}/).join(' ') : number
  end
end
