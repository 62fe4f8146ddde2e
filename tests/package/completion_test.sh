#!/usr/bin/env bash
# Usage: completion_test.sh COMPLETION ZANTOR ZANTOR_SIM
# Completes words through bash itself with the completion file sourced, against
# an emulator on COM3 of a private port folder (the system's ports off).
set -uo pipefail
completion=$1
zantor=$2
sim=$3
folder=$(mktemp -d /tmp/zantor_completion.XXXXXX)
"$sim" --port 3 --folder "$folder" --no-stdin >"$folder/sim.log" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$folder"' EXIT
for _ in $(seq 100); do [ -L "$folder/com3" ] && break; sleep 0.1; done
touch "$folder/office.json" "$folder/notes.txt" "$folder/image.bin"
export ZANTOR_PORT_FOLDER=$folder PATH=$(dirname "$zantor"):$PATH
failed=0

# The completions of the last word of a command line, sorted, on one line.
completions() {
    bash --norc --noprofile -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        $(complete -p zantor | sed "s/.*-F \([^ ]*\) .*/\1/") zantor "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@" | sort -u | paste -sd' '
}

check() {
    local expected=$1
    shift
    local got
    got=$(completions "$@")
    if [ "$got" != "$expected" ]; then
        echo "FAIL '$*': '$got', expected '$expected'"
        failed=1
    fi
}

check "identify" zantor id
check "set" zantor config s
check "--image" zantor upgrade --im
check "L M T" zantor send ""
check "red" zantor send L --led r
check "3" zantor identify --port ""
check "/dev/ptmx /dev/pts" zantor identify --port /dev/pt
check "$folder/office.json" zantor config set --port 3 "$folder/"
check "$folder/office.json" zantor station --profile "$folder/o"
check "$folder/image.bin" zantor upgrade --image "$folder/i"
[ $failed = 0 ] && echo "ok: zantor completes subcommands, options, ports and files"
exit $failed
