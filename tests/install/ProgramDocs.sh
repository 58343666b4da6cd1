#!/usr/bin/env bash
# Holds each program's manual page and bash completion to what the program itself says: every
# long option its --help lists is in both, the page renders without a warning and has the
# sections a reader looks for, and --help fits 80 columns. quorvane(3) names every function of
# the C header.
#   ProgramDocs.sh MAN-DIR COMPLETION-FILE HEADER PROGRAM-PATH...
set -uo pipefail
man_dir="$1" completion="$2" header="$3"
shift 3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
export LC_ALL=C.UTF-8 MANWIDTH=200

# Renders PAGE into `text`, failing on any warning of groff's or man's.
render() {
    local page="$1" warnings
    warnings="$(groff -ww -z -man -Tutf8 "$page" 2>&1)"
    [[ -z "$warnings" ]] || fail "groff warns on ${page##*/}: $warnings"
    warnings="$(man --warnings -l "$page" 2>&1 >/dev/null)"
    [[ -z "$warnings" ]] || fail "man warns on ${page##*/}: $warnings"
    # A word broken at a line end (a name losing its hyphen, "quorvanesend") at 80 columns.
    if MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q $'\u2010$'; then
        fail "${page##*/} breaks a word at a line end"
    fi
    text="$(man -l "$page" 2>/dev/null)"
}

# The sections every page needs, and the environment each one names.
check_sections() {
    local name="$1" text="$2" section status="EXIT STATUS"
    [[ $name == quorvane.3 ]] && status="RETURN VALUE"
    for section in NAME DESCRIPTION "$status" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || fail "$name has no $section"
    done
    [[ $name == quorvane.3 ]] && return
    grep -q QUORVANE_MAILBOX <<<"$text" && grep -q XDG_RUNTIME_DIR <<<"$text" ||
        fail "$name does not name QUORVANE_MAILBOX and XDG_RUNTIME_DIR"
    # A program's name broken at a line end loses its hyphen ("quorvanesend").
    if grep -Eq 'quorvane(send|tail|forward|relp|rsyslog|demo|viewer)' <<<"$text"; then
        fail "$name runs a program's name together"
    fi
}

# The words bash offers for "PROGRAM --".
completions() {
    bash -c 'source "$1"; COMP_WORDS=("$2" --); COMP_CWORD=1; _quorvane "$2"
             printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$1"
}

for path in "$@"; do
    program="${path##*/}"
    help="$("$path" --help)" || fail "$program --help failed"
    long="$(awk 'length > 80' <<<"$help")"
    [[ -z "$long" ]] || fail "$program --help passes 80 columns: $long"
    render "$man_dir/$program.1"
    check_sections "$program.1" "$text"
    offered="$(completions "$program")"
    for option in $(grep -oE '^ +(-[a-zA-Z], )?--[a-z][a-z-]*' <<<"$help" | grep -oE -- '--[a-z-]+'); do
        # Documented as an item of its own: the option begins a line of the page.
        grep -qE -e "^ {7}(-[a-zA-Z], )?$option(=| |,|\$)" <<<"$text" || fail "$program.1 lacks $option"
        grep -qxE -e "$option=?" <<<"$offered" || fail "bash does not complete $program $option"
    done
done

render "$man_dir/quorvane.3"
check_sections quorvane.3 "$text"
for function in $(grep -oE 'QUORVANE_API [a-z0-9_ *]+\(' "$header" | grep -oE 'quorvane_[a-z_]+'); do
    grep -q "$function" <<<"$text" || fail "quorvane.3 lacks $function"
done
grep -q QUORVANE_SCOPE <<<"$text" && grep -q QUORVANE_DISABLE <<<"$text" ||
    fail "quorvane.3 lacks the C++ macros"

((failures == 0)) || exit 1
echo "manual pages and completion agree with --help of $# programs"
