# Sourced by the benchmarks that start the tool under a private Xvfb (startup.sh, report.sh, preview.sh):
# the Release bundle, a work folder that goes at exit together with the tool and the X server, the
# tool's environment, starting it and pointing at its action button, and the median.
# shellcheck source=scripts/lib/private-xvfb.sh
. scripts/lib/private-xvfb.sh

# Sets bundle, app and script to the Release bundle in build/release, built when missing.
use_release_bundle() {
  bundle=$PWD/build/release/keyloft-troubleshooting
  app=$bundle/Contents/bin/keyloft-troubleshooting
  script=$bundle/Contents/Resources/Scripts/vantletools.rb
  if [ ! -x "$app" ] || [ ! -f "$script" ]; then
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build build/release -j2 --target keyloft-troubleshooting >/dev/null
  fi
}

# Sets work to a fresh folder; at exit the running tool (app_pid), the X server (xvfb_pid) and the folder go.
make_work_folder() {
  work=$(mktemp -d)
  xvfb_pid=
  app_pid=
  trap 'end_bench' EXIT
}
end_bench() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}

# Runs a command in the environment every measured run gets: HOME=$1 (a fresh folder), nothing else of
# the caller's but PATH, the private display and an English UTF-8 locale.
in_user_env() { env -i PATH="$PATH" HOME="$1" DISPLAY="$display" XDG_RUNTIME_DIR="$1" LANG=C.UTF-8 "${@:2}"; }

# Starts the tool in the background with HOME=$1, its standard output in $2, further VAR=VALUE settings
# after that; sets app_pid and window (the id of its visible window).
start_tool() {
  # Started straight from here (not through a function, which would run in a subshell of its own), so
  # that app_pid is the tool's own process.
  env -i PATH="$PATH" HOME="$1" DISPLAY="$display" XDG_RUNTIME_DIR="$1" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
    "${@:3}" "$app" >"$2" 2>/dev/null &
  app_pid=$!
  window=$(DISPLAY="$display" timeout 60 xdotool search --sync --onlyvisible --pid "$app_pid" | head -n1)
  if [ -z "$window" ]; then echo "the tool's window did not appear" >&2; exit 2; fi
}

# Moves the pointer onto the action button of the window; the caller clicks (xdotool click 1).
point_at_action_button() {
  local geometry width height
  geometry=$(DISPLAY="$display" xdotool getwindowgeometry --shell "$window")
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  # The button sits in the bottom-right corner, inside the layout's margins (20 right, 16 below).
  DISPLAY="$display" xdotool mousemove --window "$window" $((width - 32)) $((height - 26))
}

# Ends the tool started by start_tool.
stop_tool() {
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
