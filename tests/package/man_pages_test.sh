#!/usr/bin/env bash
# Usage: man_pages_test.sh VERSION MAN_DIR PROGRAM...
# For each program: `PROGRAM --version` names VERSION, and the long options that
# its --help lists (with those of every subcommand, recursively) are exactly the
# options that its manual page MAN_DIR/<name>.1 lists; every subcommand appears
# in the manual page too.
set -uo pipefail
version=$1
man_dir=$2
shift 2
failed=0

options_in() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }

# The subcommands a help text lists under its "Subcommands:" heading (CLI11's
# layout): the first word of each indented line.
subcommands_in() {
    awk '/^[A-Za-z ]*[Ss]ubcommands:/ { on = 1; next }
         on && /^[^ ]/ { on = 0 }
         on && /^  +[a-z]/ { print $1 }'
}

# Every help text of the program: its own and, recursively, its subcommands'.
# Lines of "#subcommand path" mark where each one starts.
all_help() {
    local program=$1
    shift
    local help
    help=$("$program" "$@" --help 2>&1) || { echo "#FAILED $*"; return; }
    printf '#%s\n%s\n' "$*" "$help"
    local sub
    for sub in $(subcommands_in <<<"$help"); do
        all_help "$program" "$@" "$sub"
    done
}

for program in "$@"; do
    name=$(basename "$program")
    page=$man_dir/$name.1
    if [ ! -f "$page" ]; then
        echo "FAIL $name: no manual page $page"
        failed=1
        continue
    fi
    if ! "$program" --version 2>&1 | grep -qw -- "$version"; then
        echo "FAIL $name: --version does not name $version: $("$program" --version 2>&1)"
        failed=1
    fi
    help=$(all_help "$program")
    if grep -q '^#FAILED' <<<"$help"; then
        echo "FAIL $name: --help failed for:$(grep '^#FAILED' <<<"$help" | cut -c8- | tr '\n' ',')"
        failed=1
    fi
    from_help=$(grep -v '^#' <<<"$help" | options_in)
    from_page=$(sed 's/\\-/-/g' "$page" | options_in)
    if [ "$from_help" != "$from_page" ]; then
        echo "FAIL $name: the options of --help and of $page differ (< help only, > page only):"
        diff <(echo "$from_help") <(echo "$from_page") | grep '^[<>]'
        failed=1
    fi
    rendered=$(MANWIDTH=1000 man -l "$page" 2>/dev/null | tr -s ' ')
    while read -r path; do
        [ -z "$path" ] && continue
        if ! grep -qF -- "$name $path" <<<"$rendered"; then
            echo "FAIL $name: the manual page does not show '$name $path'"
            failed=1
        fi
    done < <(grep '^#' <<<"$help" | grep -v '^#FAILED' | cut -c2-)
    [ $failed = 0 ] && echo "ok $name: $(wc -w <<<"$from_help") options"
done
exit $failed
