# Sourced by the scripts that need an X server of their own: the test run and the window benchmarks.
#
# start_private_xvfb FIRST LAST
#   Starts Xvfb on the first display number from FIRST to LAST that nobody uses and waits until its
#   socket is there. Sets display (":N") and xvfb_pid; the caller stops the server. Answers 1, with a
#   line on standard error, when no number is free or the server does not come up. The server never
#   resets: by default Xvfb starts afresh whenever its last client leaves and refuses whoever connects
#   meanwhile, which fails a program that a test starts just after another one ended.
start_private_xvfb() {
  display=
  local n
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  if [ -z "$display" ]; then
    echo "No free X display between :$1 and :$2." >&2
    return 1
  fi
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $display." >&2
  return 1
}
