#!/usr/bin/env bash
# Usage: scripts/qt-windows.sh
#
# Prints the folder of a static Qt 6 for 64-bit Windows (MinGW-w64), building it
# first when it is not there yet. Debian packages no Qt for Windows, but it ships
# the source of the Qt the build machine has: qtbase is fetched with
# `apt-get source` through a sources list and apt state of its own (the system's
# apt configuration is only read, never changed), configured with the host's
# moc, uic and rcc and only Core, Gui, Widgets and Test, and built at low
# priority (about 40 minutes on 2 cores, once per machine).
#
# The result lives outside the clone, in
#   ${XDG_CACHE_HOME:-$HOME/.cache}/zantor-cfg/qt-<version>-w64-static-<hash>
# where the hash covers the source version, the compiler and every option, so
# that any clone on the machine reuses it. It is built in a temporary folder
# beside it and moved into place only when complete, under a lock, so that two
# clones never build it at once and a failed or interrupted build leaves
# nothing that a later run would take for a Qt: the next run starts afresh.
#
# ZANTOR_QT_MIRROR replaces the Debian mirror that the system's apt uses.
set -euo pipefail

say() { echo "qt-windows: $*" >&2; }

# All in one function, read whole before it runs: a checkout that changes this
# file during the long build cannot change what the running build does next.
main() {
  here=$(cd "$(dirname "$0")/.." && pwd)

  # The Qt of the host tools is the Qt to build: the source of qt6-base-dev.
  source_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || true)
  if [ -z "$source_version" ]; then
    say "qt6-base-dev is not installed (make setup installs it)"
    exit 1
  fi
  qt_version=${source_version%%+*}
  qt_version=${qt_version%%-*}

  cxx=x86_64-w64-mingw32-g++-posix
  options=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    # Debian's source has no wintab.h.
    -DFEATURE_tabletevent=OFF
    # In 6.4 the windows platform plugin does not compile without OpenGL; dynamic
    # OpenGL loads opengl32.dll only when something asks for it.
    -DINPUT_opengl=dynamic
    # Qt's own copies, so that nothing links against a DLL of the cross toolchain.
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF
  )
  toolchain="$here/cmake/mingw-w64.cmake"
  hash=$({
    echo "$source_version"
    "$cxx" --version | head -n 1
    printf '%s\n' "${options[@]}"
    cat "$toolchain"
  } | sha256sum | cut -c1-12)

  cache="${XDG_CACHE_HOME:-$HOME/.cache}/zantor-cfg"
  name="qt-$qt_version-w64-static-$hash"
  final="$cache/$name"
  complete() { [ -f "$final/lib/cmake/Qt6/qt.toolchain.cmake" ]; }

  if complete; then
    echo "$final"
    exit 0
  fi

  mkdir -p "$cache"
  exec 9>"$cache/$name.lock"
  if ! flock -n 9; then
    say "waiting for another build of $name (lock $cache/$name.lock)"
    flock 9
  fi
  if complete; then
    echo "$final"
    exit 0
  fi

  # Whatever a failed or interrupted run left behind goes first.
  rm -rf "$final" "$cache/$name".tmp.*
  work=$(mktemp -d "$cache/$name.tmp.XXXXXX")
  reporter=""
  trap '[ -z "$reporter" ] || kill "$reporter" 2>/dev/null; rm -rf "$work"' EXIT
  trap 'exit 130' INT TERM HUP

  # --- The source, through apt state of our own. -------------------------------
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # The mirrors and suites the system's apt takes this release's main packages
  # from (the release, its updates, its security updates), or the one mirror given.
  if [ -n "${ZANTOR_QT_MIRROR:-}" ]; then
    repos=("$ZANTOR_QT_MIRROR $codename")
  else
    mapfile -t repos < <(apt-cache policy 2>/dev/null | awk -v release="$codename" '
      $2 ~ /^https?:/ && $3 ~ "^" release "(-[a-z]+)?/main$" { sub("/main$", "", $3); print $2, $3 }' |
      sort -u)
  fi
  what="the source of qt6-base $source_version (${repos[0]:-no mirror} main)"
  if [ -z "$codename" ] || [ ${#repos[@]} -eq 0 ]; then
    say "could not fetch $what: the system's apt has no Debian mirror for $codename main"
    exit 1
  fi
  apt_dir="$work/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  signed_by=""
  [ -f "$keyring" ] && signed_by="[signed-by=$keyring] "
  printf "deb-src $signed_by%s main\n" "${repos[@]}" >"$apt_dir/sources.list"
  apt_private=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::Cache="$apt_dir/cache"
    -o APT::Sandbox::User="$(id -un)"
    -o Acquire::Retries=1
    -o Acquire::http::Timeout=20
  )
  say "fetching the source of qt6-base $source_version"
  mkdir -p "$work/source"
  if ! apt-get "${apt_private[@]}" update >"$work/fetch.log" 2>&1 ||
     grep -q '^\(W\|E\): ' "$work/fetch.log" ||
     ! (cd "$work/source" && apt-get "${apt_private[@]}" source --download-only \
          "qt6-base=$source_version") >>"$work/fetch.log" 2>&1; then
    reason=$(sed -n 's/^[EW]: //p' "$work/fetch.log" | head -n 1 | tr -s ' ' | cut -c1-200)
    say "could not fetch $what${reason:+: $reason}"
    exit 1
  fi
  # The files were checked against the signed index as they came; unpacking
  # checks them against the .dsc once more and applies Debian's patches.
  dpkg-source -x "$work"/source/*.dsc "$work/source/qtbase" >>"$work/fetch.log" 2>&1

  # --- Configure, build, install into the temporary folder, move into place. ---
  log="$cache/$name.log"
  say "building Qt $qt_version for Windows once (about 40 minutes on 2 cores); log: $log"
  start=$SECONDS
  # A build this long says how far it has got once a minute: ninja's last
  # "[done/all]" in the log, or the phase before and after the compiling.
  progress() {
    local minutes=$(((SECONDS - start) / 60)) step
    step=$(tac "$log" 2>/dev/null | grep -m 1 -o '^\[[0-9]*/[0-9]*\]' | tr -d '[]' || true)
    if [ -z "$step" ]; then
      say "Qt build: configuring, $minutes min so far"
    elif [ "${step%/*}" = "${step#*/}" ] && grep -q '^-- Install' "$log"; then
      say "Qt build: installing, $minutes min so far"
    else
      say "Qt build: step ${step%/*} of ${step#*/} ($((100 * ${step%/*} / ${step#*/})) %), $minutes min so far"
    fi
  }
  # Its output goes to stderr alone: a sleep left over from it must not hold
  # the pipe open from which the caller reads the folder.
  (while sleep 60; do progress; done) >&2 &
  reporter=$!
  if ! {
    nice -n 19 cmake -S "$work/source/qtbase" -B "$work/build" "${options[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$final" &&
      nice -n 19 cmake --build "$work/build" -j "$(nproc)" &&
      DESTDIR="$work/stage" cmake --install "$work/build"
  } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    say "the Qt build failed (log: $log); the next run starts it again"
    exit 1
  fi
  kill "$reporter" 2>/dev/null || true
  reporter=""
  mv "$work/stage$final" "$final"
  say "Qt $qt_version for Windows built in $(((SECONDS - start) / 60)) min: $final"
  echo "$final"
}

# One line, parsed whole before it runs: what bash would read after it is
# wherever that offset lands in a file changed meanwhile.
main "$@"; exit
