#!/usr/bin/env bash
# usage: run_as_sudo_user.sh TEST_PROGRAM HELPERS_DIR BUNDLE_PROGRAMS_DIR [test arguments...]
# Runs the test as a throw-away user in group sudo (one password try, no terminal, as from a desktop),
# with the programs of both folders in KEYLOFT_SUDO_TEST_HELPERS and the password in
# KEYLOFT_SUDO_TEST_PASSWORD; removes it all afterwards. Only root can: anyone else gets 77 (skipped).
set -euo pipefail

program=$1 helpers=$2 bundle_programs=$3
shift 3

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: the administrator-rights test creates a sudo user and must run as root"
  exit 77
fi
for tool in sudo useradd userdel chpasswd runuser setsid visudo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

user="kltsudo$$"
sudoers="/etc/sudoers.d/keyloft-test-$user"
work=$(mktemp -d /tmp/keyloft-sudo-test.XXXXXX)
user_created=

cleanup() {
  rm -f "$sudoers"
  [ -z "$user_created" ] || userdel -r -f "$user" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

password=$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
useradd -m -G sudo -s /bin/sh "$user"
user_created=1
echo "$user:$password" | chpasswd

printf 'Defaults:%s passwd_tries=1\n' "$user" >"$work/sudoers"
visudo -cqf "$work/sudoers"
install -m 0440 -o root -g root "$work/sudoers" "$sudoers"

# The build folder may be closed to other users: everything the test user runs is copied out.
chmod 0755 "$work"
install -m 0755 "$program" "$work/"
mkdir -m 0755 "$work/helpers"
for helper in "$helpers"/* "$bundle_programs"/*; do
  [ -f "$helper" ] && [ -x "$helper" ] && install -m 0755 "$helper" "$work/helpers/"
done

cd "$work"
runuser -u "$user" -- setsid -w env -u TMPDIR \
  KEYLOFT_SUDO_TEST_PASSWORD="$password" KEYLOFT_SUDO_TEST_HELPERS="$work/helpers" \
  "$work/$(basename "$program")" "$@"
