#!/usr/bin/env bash
# Usage: window_under_wine.sh scenario|scenario-wm|installer WINDOWS_BUILD ZANTOR_SIM GRABS
#
# The Windows build of the window under Wine on this X display (a private Xvfb:
# ctest runs it under xvfb-run), in a prefix of its own made by scripts/wine.sh,
# driven through X as a user would: keys and clicks with xdotool, screen grabs
# into GRABS.
# - scenario: Zantor_Cfg.exe against an outdated emulator on COM3. Start finds
#   the reader, the upgrade is answered on screen, the progress window is seen
#   during the transfer, a changed setting is written and read back; then the
#   reader goes, a read fails, and closing the window ends the program. The
#   emulator's trace is the record of the line.
# - scenario-wm: the same with a window manager (openbox) on the display, as a
#   desktop has one; its grabs are named wm-*.
# - installer: Zantor_Cfg-<version>-setup.exe /S, the installed programs, the
#   silent uninstall leaving nothing behind.
# ZANTOR_WINE_DPI, when set, gives Wine another DPI than its 96 (120 for 125 %),
# which lays the window out anew.
set -euo pipefail
mode=$1 build=$2 sim=$3 grabs=$4
[ -f "$build/Zantor_Cfg.exe" ] || { echo "$build/Zantor_Cfg.exe is not built (make windows)"; exit 77; }
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/zantor_window.XXXXXX)
prefix=$work/prefix
sim_pid="" wm_pid="" shot=""
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null || true
  bash "$here/scripts/wine.sh" "$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# Wine's own messages (and its server's, which the first call starts) go to a log.
# The window speaks the language of Windows' display, and the scenario reads its
# Polish words: Wine is told Polish (it takes the locale's name from the
# environment, generated here or not).
wine() {
  LC_ALL=pl_PL.UTF-8 ZANTOR_WINE_DISPLAY=$DISPLAY \
    bash "$here/scripts/wine.sh" "$prefix" wine "$@" 2>>"$work/wine.log"
}
fail() {
  echo "FAIL: $*" >&2
  [ ! -f "$work/sim.log" ] || cat "$work/sim.log" >&2
  import -window root "$grabs/${shot}failed.png" 2>/dev/null && echo "the screen then: $grabs/${shot}failed.png" >&2
  exit 1
}
# Waits up to $1 seconds for the rest of the line to succeed.
within() {
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}
shown() { xdotool search --onlyvisible --name "$1" >/dev/null; }
window() { xdotool search --onlyvisible --name "$1" | head -n 1; }
# Where WORD is drawn in window W, as "x y" in the window's coordinates: the
# middle of its box as tesseract reads a grab of the window. Where a control lies
# depends on the fonts, the DPI and Wine's metrics of the machine, so it is read
# off the screen as a person would, never written down. Small interface fonts
# read better enlarged, and each reading has its slips ("Odczyt" often reads
# "Odezyt", a focus frame can hide a word), so the grab is read in several ways
# until one of them shows the word, or a word of five letters or more that
# differs from it in one letter at most.
locate() {
  local win=$1 word=$2 way at
  import -window "$win" "$work/ocr.png" || return 1
  for way in "2 11" "2 3" "3 11" "4 11" "2 11 sharpen" "3 6"; do
    set -- $way
    convert "$work/ocr.png" -colorspace Gray -resize "$(($1 * 100))%" ${3:+-sharpen 0x1} "$work/ocr-read.png"
    at=$(tesseract "$work/ocr-read.png" - --psm "$2" tsv 2>/dev/null |
      awk -F'\t' -v word="$word" -v scale="$1" "$nearly"'
        $12 != "" && nearly($12, word) {
          printf "%d %d\n", ($7 + $9 / 2) / scale, ($8 + $10 / 2) / scale; exit
        }')
    [ -z "$at" ] || { echo "$at"; return 0; }
  done
  return 1
}
# awk: whether a word read is the word sought, allowing one letter's slip in
# words of five letters or more (the edit distance, row by row).
nearly='function nearly(read, sought,   n, m, i, j, prev, cur, cost, best) {
  if (read == sought) return 1
  n = length(read); m = length(sought)
  if (m < 5 || n - m > 1 || m - n > 1) return 0
  for (j = 0; j <= m; j++) prev[j] = j
  for (i = 1; i <= n; i++) {
    cur[0] = i
    for (j = 1; j <= m; j++) {
      cost = substr(read, i, 1) != substr(sought, j, 1)
      best = prev[j - 1] + cost
      if (prev[j] + 1 < best) best = prev[j] + 1
      if (cur[j - 1] + 1 < best) best = cur[j - 1] + 1
      cur[j] = best
    }
    for (j = 0; j <= m; j++) prev[j] = cur[j]
  }
  return prev[m] <= 1
}'
# Clicks on WORD in window W, once it is drawn there (waiting up to 60 s).
click_on() {
  local end=$((SECONDS + 60)) at
  until at=$(locate "$1" "$2"); do
    [ "$SECONDS" -lt "$end" ] || fail "\"$2\" is not to be seen on the window"
    sleep 0.5
  done
  xdotool mousemove --window "$1" ${at% *} ${at#* } click 1
}
grab() { mkdir -p "$grabs" && import -window root "$grabs/$shot$1.png"; }
# The frames with this tag in the emulator's trace, without time and tag, each
# once: a frame that comes again at once, byte for byte, is the same request
# asked again after its reply came late, as Wine may on a busy machine.
frames() {
  awk -v tag="$1" '$2 == tag { frame = $0; sub(/^ *[^ ]+ +[^ ]+ +/, "", frame)
                               if (frame != last) print frame; last = frame }' "$work/sim.log"
}
# Their command bytes.
traced() { frames "$1" | awk '{ printf "%s%s", sep, $3; sep = " " }'; }
# The 8-byte configuration record of the last such frame.
record() { awk -v tag="$1" -v cmd="$2" '$2 == tag && $5 == cmd { r = ""; for (i = 6; i <= 13; i++) r = r " " $i }
                                     END { print r }' "$work/sim.log"; }
read_again() { [ "$(traced RX | grep -o 63 | wc -l)" -ge 2 ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }
quiet() { awk -v now="$(date +%s.%3N)" -v last="$(stat -c %.3Y "$work/sim.log")" 'BEGIN { exit now - last < 1 }'; }

bash "$here/scripts/wine.sh" "$prefix" 2>>"$work/wine.log"
if [ -n "${ZANTOR_WINE_DPI:-}" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$ZANTOR_WINE_DPI" /f >/dev/null
fi
mkdir -p "$grabs"

if [ "$mode" = scenario-wm ]; then
  openbox >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"; }
  within 10 wm_up || fail "the window manager did not start"
  mode=scenario shot=wm-
fi

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
  within 10 grep -q ' RX .. .. 59 01 00 ' "$work/sim.log" || fail "no second block"
  grab progress-window
  within 30 grep -q ' RX 05 00 63 ' "$work/sim.log" || fail "no configuration read after the upgrade"
  upgrade="5A$(printf ' 59%.0s' {1..14}) 79 7A"
  [ "$(traced RX)" = "4D $upgrade 4D 63" ] || fail "frames received: $(traced RX)"
  [ "$(frames RX | awk '$3 == "59" { printf "%s%s", $5, $4 }')" = "$(printf '%04X' {0..13})" ] ||
    fail "blocks out of order"

  within 10 grep -q ' TX .. 00 E3 ' "$work/sim.log" || fail "no configuration sent to the window"
  read=$(record TX E3)
  main=$(window '^Zantor_Cfg 2.6')
  # "Po numerze <CR><LF>", then "Zapis konfiguracji", then "Odczyt konfiguracji".
  click_on "$main" numerze
  click_on "$main" Zapis
  within 10 grep -q ' RX .. 00 43 ' "$work/sim.log" || fail "no configuration write"
  grab main-window
  click_on "$main" Odczyt
  within 10 read_again || fail "no read-back"
  written=$(record RX 43)
  [ -n "$written" ] && [ "$written" = "$(record TX E3)" ] && [ "$written" != "$read" ] ||
    fail "read '$read', written '$written', read back '$(record TX E3)'"

  # The reader goes; a read then finds none, and a close request made while the
  # program is idle again must end it. It goes once its last reply has crossed
  # the line (13 bytes, 7 ms): when the trace has been quiet for a second.
  within 10 quiet || fail "the emulator's trace did not come to rest"
  kill "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=""
  click_on "$main" Odczyt
  within 90 locate "$main" czytnik. || fail "no \"Nie podłączony żaden czytnik.\" after the reader went"
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
  installed=$(window '^Zantor_Cfg 2.6')
  within 30 locate "$installed" Konfiguracja || fail "the installed window shows no \"Konfiguracja\""
  grab installed-window
  xdotool windowfocus --sync "$installed" key alt+F4
  within 10 ended "$app" && wait "$app" || fail "the installed window did not end"

  # The uninstaller goes on from a copy of itself in the temporary folder.
  wine 'C:\Program Files\Zantor_Cfg\Uninstall.exe' /S || fail "the silent uninstall failed"
  within 30 test ! -e "$dir" || fail "left behind: $(ls "$dir")"
  [ ! -e "$entry" ] || fail "the Start-menu entry was left behind"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstaller is still registered"
  echo "installer: installed, started, uninstalled leaving nothing behind"
fi
