# frozen_string_literal: true
#
# Shared by the Ruby tests of the diagnostics script: where the script is, and a check that a secret
# left no piece of itself in a redacted text.

require 'minitest/autorun'

SCRIPTS = File.expand_path('../../KeyloftTroubleshooting/Scripts', __dir__)
require File.join(SCRIPTS, 'redaction')

module LeakCheck
  PIECE = 6

  # The first piece of secret (PIECE characters or the whole of a shorter one) that output still holds
  # although the input held it only inside the secret; nil when none.
  def leaked_piece(output, input, secret)
    context = input.sub(secret, "\u0000")
    size = [PIECE, secret.length].min
    (0..(secret.length - size)).each do |start|
      piece = secret[start, size]
      return piece if output.include?(piece) && !context.include?(piece)
    end
    nil
  end
end
