#!/usr/bin/env bash
# Usage: check_package.sh PACKAGE.deb
# Checks the built package without installing it: lintian reports no errors,
# the desktop entry and the AppStream metainfo validate, and the programs run
# from the package unpacked into a scratch folder: zantor --version, zantor_sim
# --help, and Zantor_Cfg offscreen, which finds an emulator and reads its
# configuration.
set -euo pipefail
deb=$(realpath "$1")
version=$(dpkg-deb -f "$deb" Version)
scratch=$(mktemp -d "$(dirname "$deb")/unpacked.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}

lintian --fail-on error --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 ||
    { cat "$scratch/lintian.log"; fail "lintian reports errors"; }
tags=$(grep -E '^[EWIP]: ' "$scratch/lintian.log" || true)
echo "package: lintian: no errors, $(grep -c '^W: ' <<<"$tags" || true) warnings"
grep '^W: ' <<<"$tags" || true

dpkg-deb -x "$deb" "$root"
for program in Zantor_Cfg zantor zantor_sim; do
    [ -x "$root/usr/bin/$program" ] || fail "no /usr/bin/$program"
    [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page of $program"
done
[ -f "$root/usr/share/bash-completion/completions/zantor" ] || fail "no bash completion of zantor"
for file in copyright changelog.gz README.md; do
    [ -f "$root/usr/share/doc/zantor-cfg/$file" ] || fail "no /usr/share/doc/zantor-cfg/$file"
done
desktop=$(echo "$root"/usr/share/applications/*.desktop)
desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon"
# The metainfo, with the desktop entry it launches, as installed.
appstreamcli validate-tree --no-net "$root" >"$scratch/appstream.log" ||
    { cat "$scratch/appstream.log"; fail "appstreamcli validate-tree"; }
echo "package: desktop entry and metainfo valid"

"$root/usr/bin/zantor" --version | grep -qw -- "$version" || fail "zantor --version is not $version"
"$root/usr/bin/zantor_sim" --help >/dev/null || fail "zantor_sim --help"
echo "package: zantor --version and zantor_sim --help run from /usr/bin"

# The window and the emulator run in a mount namespace of their own: a private
# port folder, so that it holds only this emulator, and an empty
# /sys/class/tty, so that the system's serial ports are not there to find.
# Only the port folder is covered, not all of /tmp: the package and its
# scratch folder may themselves lie under /tmp.
window_run() {
    set -euo pipefail
    local folder
    folder=/tmp/zantor_cfg-$(id -u)
    mkdir -p "$folder"
    mount -t tmpfs -o mode=0700 zantor-ports "$folder"
    mount -t tmpfs -o ro zantor-no-ttys /sys/class/tty
    [ -z "$(ls /sys/class/tty)" ] || exit 1
    "$root/usr/bin/zantor_sim" --port 1 --no-stdin --trace >"$scratch/sim.log" 2>&1 &
    local sim=$!
    local window=
    local result=1
    for _ in $(seq 100); do
        grep -q '^zantor_sim: COM1 ' "$scratch/sim.log" && break
        sleep 0.1
    done
    if grep -q '^zantor_sim: COM1 ' "$scratch/sim.log"; then
        QT_QPA_PLATFORM=offscreen "$root/usr/bin/Zantor_Cfg" </dev/null >"$scratch/window.log" 2>&1 &
        window=$!
        # The identification, then the configuration read; the emulator answers it.
        for _ in $(seq 600); do
            grep -q 'TX 0D 00 E3 ' "$scratch/sim.log" && { result=0; break; }
            sleep 0.1
        done
        kill "$window" 2>/dev/null || true
        wait "$window" || true
    fi
    kill "$sim" 2>/dev/null || true
    wait "$sim" || true
    return $result
}
export -f window_run
export root scratch
if unshare --mount --propagation private true 2>/dev/null; then
    isolate=(unshare --mount --propagation private)
elif unshare --map-root-user --mount true 2>/dev/null; then
    isolate=(unshare --map-root-user --mount)
else
    fail "no mount namespace (unshare) for the window's run"
fi
"${isolate[@]}" bash -c window_run ||
    { cat "$scratch/sim.log" "$scratch/window.log" 2>/dev/null; fail "Zantor_Cfg did not read the emulator's configuration"; }
echo "package: Zantor_Cfg from /usr/bin found the emulator and read its configuration"
echo "package: $(basename "$deb") checked"
