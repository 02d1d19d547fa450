#!/usr/bin/env bash
# The main job: builds the shell against loopback hosts, starts the bundled
# start-page server (a sample mail page) and a report server that prints each
# install report, and runs the shell as Quorvel_demo.bin (tag "demo"). With a
# display the window opens there; without one the shell runs under Xvfb, a
# screenshot is saved and the demo signs out, which ends the shell. The
# servers stop when the shell ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh demo

start_host=127.0.0.1:18080
report_host=127.0.0.1:18081
build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WARNINGS_AS_ERRORS=ON \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_SHELL=ON \
  -DQUORVEL_START_PAGE_HOST=$start_host -DQUORVEL_REPORT_HOST=$report_host >/dev/null
cmake --build "$build" -j2

# A fresh data folder each time, so that every demo run sends its report.
run=$root/$build/run
rm -rf "$run"
mkdir -p "$run/state" "$run/data" "$run/cache"
cp "$build/shell/quorvel" "$run/Quorvel_demo.bin"
export XDG_DATA_HOME=$run/data XDG_CACHE_HOME=$run/cache

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# Waits up to $2 seconds for the file $1 to exist and have content.
wait_file() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [[ -s $1 ]] && return 0
    sleep 0.1
  done
  echo "demo: gave up waiting for $1" >&2
  return 1
}

python3 -u scripts/demo/servers.py "$start_host" "$report_host" "$run/state" &
pids+=($!)
wait_file "$run/state/listening" 30

# The shell under a private session bus unless the desktop has one.
bus=()
[[ -z ${DBUS_SESSION_BUS_ADDRESS:-} ]] && bus=(dbus-run-session --)

if [[ -n ${DISPLAY:-} ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "Opening the Quorvel window on $DISPLAY. Sign out (top right) ends it."
  status=0
  "${bus[@]}" "$run/Quorvel_demo.bin" || status=$?
  echo "The shell ended with status $status."
  exit "$status"
fi

echo "No display: running the shell under Xvfb."
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$run/display" >/dev/null 2>&1 &
pids+=($!)
wait_file "$run/display" 30
export DISPLAY=:$(cat "$run/display") NO_AT_BRIDGE=1
"${bus[@]}" "$run/Quorvel_demo.bin" &
shell=$!
pids+=("$shell")

wait_file "$run/state/painted" 120
sleep 1  # let the compositor put the last frame on screen
shot=$root/$build/demo-screenshot.png
import -window root "$shot"
echo "Screenshot of the demo window: $shot"

# Sign out: the link's URL holds the close marker, so the shell ends.
read -r link_x link_y < <(python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(d["x"], d["y"])' \
  "$run/state/painted")
window=$(xdotool search --onlyvisible --classname '^quorvel$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "Signing out..."
xdotool mousemove $((X + link_x)) $((Y + link_y)) click 1
for ((i = 0; i < 150; i++)); do
  kill -0 "$shell" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$shell" 2>/dev/null; then
  echo "The shell did not end after signing out; ending it." >&2
  kill -TERM $(pgrep -P "$shell" -f "$run/Quorvel_demo.bin") 2>/dev/null || true
fi
status=0
wait "$shell" || status=$?
echo "The shell ended with status $status."
exit "$status"
