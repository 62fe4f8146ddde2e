#!/usr/bin/env bash
# Usage: window_under_wine.sh scenario|installer WINDOWS_BUILD ZANTOR_SIM GRABS
#
# The Windows build of the window under Wine on this X display (a private Xvfb:
# ctest runs it under xvfb-run), in a prefix of its own made by scripts/wine.sh,
# driven through X as a user would: keys and clicks with xdotool, screen grabs
# into GRABS.
# - scenario: Zantor_Cfg.exe against an outdated emulator on COM3. Start finds
#   the reader, the upgrade is answered on screen, the progress window is seen
#   during the transfer, a changed setting is written and read back, closing the
#   window ends the program. The emulator's trace is the record of the line.
# - installer: Zantor_Cfg-<version>-setup.exe /S, the installed programs, the
#   silent uninstall leaving nothing behind.
set -euo pipefail
mode=$1 build=$2 sim=$3 grabs=$4
[ -f "$build/Zantor_Cfg.exe" ] || { echo "$build/Zantor_Cfg.exe is not built (make windows)"; exit 77; }
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/zantor_window.XXXXXX)
prefix=$work/prefix
sim_pid=""
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  bash "$here/scripts/wine.sh" "$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# Wine's own messages (and its server's, which the first call starts) go to a log.
wine() { ZANTOR_WINE_DISPLAY=$DISPLAY bash "$here/scripts/wine.sh" "$prefix" wine "$@" 2>>"$work/wine.log"; }
fail() { echo "FAIL: $*" >&2; [ ! -f "$work/sim.log" ] || cat "$work/sim.log" >&2; exit 1; }
# Waits up to $1 seconds for the rest of the line to succeed.
within() {
  local tenths=$(($1 * 10))
  shift
  for ((i = 0; i < tenths; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
shown() { xdotool search --onlyvisible --name "$1" >/dev/null; }
window() { xdotool search --onlyvisible --name "$1" | head -n 1; }
# Clicks at x, y of the window (its client area's origin).
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
grab() { mkdir -p "$grabs" && import -window root "$grabs/$1.png"; }
# The command bytes of the frames with this tag in the emulator's trace.
traced() { awk -v tag="$1" '$2 == tag { printf "%s%s", sep, $5; sep = " " }' "$work/sim.log"; }
# The 8-byte configuration record of the last such frame.
record() { awk -v tag="$1" -v cmd="$2" '$2 == tag && $5 == cmd { r = ""; for (i = 6; i <= 13; i++) r = r " " $i }
                                     END { print r }' "$work/sim.log"; }
read_again() { [ "$(traced RX | grep -o 63 | wc -l)" -ge 2 ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }

bash "$here/scripts/wine.sh" "$prefix" 2>>"$work/wine.log"
mkdir -p "$grabs"

if [ "$mode" = scenario ]; then
  "$sim" --port 3 --folder "$work/ports" --trace --no-stdin --reply-delay 0 --firmware 6 </dev/null >"$work/sim.log" 2>&1 &
  sim_pid=$!
  within 10 grep -q '^zantor_sim: COM3 -> ' "$work/sim.log" || fail "the emulator did not start"
  ln -s "$(sed -n 's/^zantor_sim: COM3 -> \(\/dev\/pts\/[0-9]*\).*/\1/p' "$work/sim.log")" "$prefix/dosdevices/com3"

  wine "$build/Zantor_Cfg.exe" &
  app=$!
  within 60 shown '^Upgrade ZANTOR-40$' || fail "no upgrade question"
  grab question
  xdotool windowfocus --sync "$(window '^Upgrade ZANTOR-40$')" key Return
  within 10 shown '^Zantor_Cfg$' || fail "no progress window during the transfer"
  sleep 1
  grab progress-window
  within 30 grep -q ' RX 05 00 63 ' "$work/sim.log" || fail "no configuration read after the upgrade"
  sleep 1
  grab main-window
  upgrade="5A$(printf ' 59%.0s' {1..14}) 79 7A"
  [ "$(traced RX)" = "4D $upgrade 4D 63" ] || fail "frames received: $(traced RX)"
  [ "$(awk '$2 == "RX" && $5 == "59" { printf "%s%s", $7, $6 }' "$work/sim.log")" = \
    "$(printf '%04X' {0..13})" ] || fail "blocks out of order"

  read=$(record TX E3)
  main=$(window '^Zantor_Cfg 2.6')
  # Where "Po numerze <CR><LF>", "Zapis konfiguracji" and "Odczyt konfiguracji"
  # lie in the window as Wine lays it out with its fonts.
  click "$main" 48 358
  click "$main" 581 70
  within 10 grep -q ' RX .. 00 43 ' "$work/sim.log" || fail "no configuration write"
  click "$main" 205 70
  within 10 read_again || fail "no read-back"
  written=$(record RX 43)
  [ -n "$written" ] && [ "$written" = "$(record TX E3)" ] && [ "$written" != "$read" ] ||
    fail "read '$read', written '$written', read back '$(record TX E3)'"

  xdotool windowfocus --sync "$main" key alt+F4
  within 10 ended "$app" || fail "closing the window did not end the program"
  wait "$app" || fail "the program ended with status $?"

  # From the 'Z' request to the identification after the upgrade, against its
  # floor: every byte on the line in between at 19200 baud and the 2.1 s
  # closing phase.
  awk '$2 == "RX" && $5 == "5A" { from = $1 } $2 == "RX" && $5 == "4D" && from && !to { to = $1 }
       $2 ~ /^[RT]X$/ { t[NR] = $1; n[NR] = NF - 2 }
       END { for (i in t) if (t[i] > from && t[i] <= to) bytes += n[i]
             floor = bytes * 10 / 19200 + 2.1
             printf "upgrade under Wine: %.0f ms, floor %.0f ms, ratio %.3f\n", (to - from) * 1000, floor * 1000, (to - from) / floor }' \
    "$work/sim.log"
  echo "screen grabs: $grabs/{question,progress-window,main-window}.png"
fi

if [ "$mode" = installer ]; then
  version=$(sed -n 's/^project(Zantor_Cfg VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
  dir="$prefix/drive_c/Program Files/Zantor_Cfg"
  entry="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zantor_Cfg.lnk"
  key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zantor_Cfg'
  wine "$build/Zantor_Cfg-$version-setup.exe" /S || fail "the silent install failed"
  [ "$(ls "$dir" | tr '\n' ' ')" = "README.txt Uninstall.exe Zantor_Cfg.exe zantor.exe " ] ||
    fail "installed: $(ls "$dir")"
  [ -f "$entry" ] || fail "no Start-menu entry"
  wine reg query "$key" /v UninstallString | grep -qF 'C:\Program Files\Zantor_Cfg\Uninstall.exe' ||
    fail "no uninstaller registered"
  wine 'C:\Program Files\Zantor_Cfg\zantor.exe' --version | grep -qF "$version" || fail "zantor --version"

  wine 'C:\Program Files\Zantor_Cfg\Zantor_Cfg.exe' &
  app=$!
  within 60 shown '^Zantor_Cfg 2.6' || fail "the installed window did not start"
  sleep 2
  grab installed-window
  xdotool windowfocus --sync "$(window '^Zantor_Cfg 2.6')" key alt+F4
  within 10 ended "$app" && wait "$app" || fail "the installed window did not end"

  # The uninstaller goes on from a copy of itself in the temporary folder.
  wine 'C:\Program Files\Zantor_Cfg\Uninstall.exe' /S || fail "the silent uninstall failed"
  within 30 test ! -e "$dir" || fail "left behind: $(ls "$dir")"
  [ ! -e "$entry" ] || fail "the Start-menu entry was left behind"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstaller is still registered"
  echo "installer: installed, started, uninstalled leaving nothing behind"
fi
