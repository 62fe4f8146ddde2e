#!/usr/bin/env bash
# Usage: scripts/wine.sh PREFIX [COMMAND...]
#
# Runs COMMAND (for example: wine build-windows/zantor.exe identify) in the Wine
# prefix PREFIX, creating the prefix first when it is not one yet. In this prefix
# no COM name can lead to a system serial port:
# - a fresh Wine prefix maps com1, com2... to /dev/ttyS0, /dev/ttyS1... (and the
#   console of many machines is /dev/ttyS0), and Wine's mount manager maps them
#   again each time a Wine session starts. Here the mount manager is never loaded
#   (mountmgr.sys disabled); should it ever be, HKLM\Software\Wine\Ports gives
#   COM1 to COM255 empty names, which leaves it only COM256 for the first system
#   port, beyond any number zantor opens;
# - before COMMAND runs, every com* link of the prefix that leads anywhere but to
#   a pseudo-terminal (/dev/pts/N) is removed.
# Link COM n to an emulator yourself: ln -s /dev/pts/5 PREFIX/dosdevices/com3
#
# With no COMMAND it only makes sure that the prefix exists. Wine runs offline:
# no debug output, no Mono or Gecko installers, and no menu entries or file
# associations written to the user's home. It runs headless unless
# ZANTOR_WINE_DISPLAY names an X display for its windows: a private one, such
# as xvfb-run's.
set -euo pipefail

if [ $# -lt 1 ]; then
  sed -n '2,21s/^# \{0,1\}//p' "$0" >&2
  exit 2
fi
prefix=$(realpath -m "$1")
shift

unset DISPLAY WAYLAND_DISPLAY
[ -n "${ZANTOR_WINE_DISPLAY:-}" ] && export DISPLAY="$ZANTOR_WINE_DISPLAY"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d;winemenubuilder.exe=d"

# Leaves in dosdevices only the COM links that lead to pseudo-terminals.
keep_only_pty_links() {
  local link target
  for link in "$prefix"/dosdevices/com*; do
    [ -L "$link" ] || [ -e "$link" ] || continue
    target=$(readlink "$link" || true)
    if [[ ! "$target" =~ ^/dev/pts/[0-9]+$ ]]; then
      rm -f -- "$link"
    fi
  done
}

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot --init >/dev/null 2>&1
  wineserver -w
  keep_only_pty_links
  reg_file="$prefix/drive_c/hidden-ports.reg"
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 255); do printf '"COM%d"=""\r\n' "$n"; done
  } >"$reg_file"
  wine reg import 'C:\hidden-ports.reg' >/dev/null 2>&1
  wineserver -w
  rm -f "$reg_file"
  keep_only_pty_links
fi

[ $# -eq 0 ] && exit 0
keep_only_pty_links
exec "$@"
