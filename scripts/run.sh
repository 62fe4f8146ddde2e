#!/usr/bin/env bash
# `make run`: starts the reader emulator on the lowest free COM number of the
# per-user port folder, then Zantor_Cfg, which finds it there. Closing the
# window stops the emulator.
#
# The lowest free number is taken so that every lower number is already named
# by the folder: the program's scan then reaches the emulator before any of the
# system's serial ports.
set -euo pipefail
build=${1:-build}
sim="$build/zantor_sim"
app="$build/Zantor_Cfg"
folder="/tmp/zantor_cfg-$(id -u)"

port=""
for n in $(seq 1 32); do
  if [ ! -L "$folder/com$n" ] || [ ! -e "$folder/com$n" ]; then port=$n; break; fi
done
[ -n "$port" ] || { echo "run: COM1..COM32 are all taken in $folder" >&2; exit 1; }

log=$(mktemp)
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -f "$log"' EXIT
# The emulator's standard input stays open (a pipe that nobody writes) so that
# it runs until it is told to stop.
"$sim" --port "$port" --card-every 5 < <(sleep infinity) >"$log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  grep -q "COM$port" "$log" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.05
done
cat "$log"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; running Zantor_Cfg under xvfb-run (nothing will be visible)." >&2
  xvfb-run -a "$app"
else
  "$app"
fi
