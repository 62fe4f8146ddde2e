#!/usr/bin/env bash
# scripts/qt-windows.sh when the source cannot be fetched: one line naming what
# could not be, and nothing half-made in the cache, neither its own nor what a
# failed build left there; a lock that another build holds is waited for.
set -euo pipefail
script=$1
export XDG_CACHE_HOME ZANTOR_QT_MIRROR=http://127.0.0.1:9/debian
XDG_CACHE_HOME=$(mktemp -d /tmp/zantor_qt_cache.XXXXXX)
trap 'rm -rf "$XDG_CACHE_HOME"' EXIT
cache=$XDG_CACHE_HOME/zantor-cfg
fail() { echo "FAIL: $*" >&2; exit 1; }
! bash "$script" 2>"$XDG_CACHE_HOME/err" >/dev/null || fail "a Qt without its source"
grep -qx "qt-windows: could not fetch the source of qt6-base .* (http://127.0.0.1:9/debian [a-z]* main): .*" \
  "$XDG_CACHE_HOME/err" || fail "$(cat "$XDG_CACHE_HOME/err")"
lock=$(ls "$cache"/*.lock)
[ "$(ls -A "$cache")" = "$(basename "$lock")" ] || fail "left in the cache: $(ls -A "$cache")"

qt=${lock%.lock}
mkdir -p "$qt/lib" "$qt.tmp.0Ld9Xz/build"
flock "$lock" sleep 5 &
until ! flock -n "$lock" true; do sleep 0.1; done
! bash "$script" 2>"$XDG_CACHE_HOME/err" >/dev/null || fail "a Qt without its source"
grep -q "waiting for another build" "$XDG_CACHE_HOME/err" || fail "the held lock was not waited for"
[ "$(ls -A "$cache")" = "$(basename "$lock")" ] || fail "left in the cache: $(ls -A "$cache")"
echo "qt-windows: unreachable mirror, held lock and a failed build's remains handled"
