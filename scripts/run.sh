#!/usr/bin/env bash
# `make run`: starts the reader emulator as COM n of the per-user port folder,
# then Zantor_Cfg, which finds it there. Closing the window stops the emulator.
#
#   scripts/run.sh [BUILD_DIR [EMULATOR_OPTION...]]
#
# Options after the build directory go to the emulator in place of the default
# "--card-every 5", e.g. `scripts/run.sh build --firmware 6` for a reader that
# is offered the upgrade.
#
# n is the lowest number that no running emulator holds. The program scans
# COM1 upwards and every number the folder does not name is one of the system's
# serial ports, so every number below the emulator's must be named: with the
# lowest free number, each of them is an emulator (or an entry that is not a
# link, which the program passes over), and the scan meets an emulator before
# it could reach any system port.
set -euo pipefail
build=${1:-build}
shift || true
sim_options=("$@")
[ ${#sim_options[@]} -gt 0 ] || sim_options=(--card-every 5)
sim="$build/zantor_sim"
app="$build/Zantor_Cfg"
folder="/tmp/zantor_cfg-$(id -u)"
log="$build/zantor_sim.log"

for program in "$sim" "$app"; do
  [ -x "$program" ] || { echo "run: $program is missing; build first (make)" >&2; exit 1; }
done

# A running emulator holds an exclusive lock on com<n>.pid beside its link.
held_by_emulator() {
  local lock="$folder/com$1.pid"
  [ -e "$lock" ] && ! flock --nonblock --exclusive "$lock" true 2>/dev/null
}

port=""
for n in $(seq 1 32); do
  entry="$folder/com$n"
  held_by_emulator "$n" && continue
  # The emulator replaces a link without a running owner but leaves anything
  # else alone; such an entry still keeps the number from the system's ports.
  if [ -e "$entry" ] || [ -L "$entry" ]; then [ -L "$entry" ] || continue; fi
  port=$n
  break
done
[ -n "$port" ] || { echo "run: COM1..COM32 are all taken in $folder" >&2; exit 1; }
if [ "$port" -gt 1 ]; then
  below="COM1"
  [ "$port" -eq 2 ] || below="COM1..COM$((port - 1))"
  echo "run: $below already taken in $folder; Zantor_Cfg will talk to the emulator" \
    "on the lowest number, which may not be the one started here." >&2
fi

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

# --no-stdin: a background job that reads the terminal would be stopped.
"$sim" --port "$port" --trace --no-stdin "${sim_options[@]}" </dev/null >"$log" 2>&1 &
sim_pid=$!
ready=""
for _ in $(seq 1 200); do
  ready=$(grep -m1 "^zantor_sim: COM$port -> " "$log" || true)
  [ -n "$ready" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    cat "$log" >&2
    exit 1
  fi
  sleep 0.05
done
[ -n "$ready" ] || { cat "$log" >&2; echo "run: the emulator did not start" >&2; exit 1; }
echo "$ready"
echo "run: the emulator's trace goes to $log"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$app"
elif command -v xvfb-run >/dev/null; then
  echo "run: no display; running Zantor_Cfg under xvfb-run (nothing will be visible)." >&2
  xvfb-run -a -s "-screen 0 1280x800x24" "$app"
else
  echo "run: no display and no xvfb-run" >&2
  exit 1
fi
