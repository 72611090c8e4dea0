# Shared by the packaging tests: checks that count and explain themselves, and a scratch
# folder that goes away at the end.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

checks=0
failures=0
scratch=$(mktemp -d "${SONTEVA_TEST_TMP:-${TMPDIR:-/tmp}}/packaging.XXXXXX")
# (A shell the test drove may still be writing there for a moment.)
trap 'rm -rf "$scratch" 2>/dev/null || { sleep 1; rm -rf "$scratch"; }' EXIT

fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$@"
}

# check DESCRIPTION COMMAND...: the command must succeed.
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    "$@" || fail "$what"
}

# expect DESCRIPTION EXPECTED ACTUAL
expect() {
    checks=$((checks + 1))
    [[ $2 == "$3" ]] || fail "$1" "  expected: $2" "  got:      $3"
}

# expect_match DESCRIPTION PATTERN(extended regex) TEXT
expect_match() {
    checks=$((checks + 1))
    [[ $3 =~ $2 ]] || fail "$1" "  pattern: $2" "  text:    ${3:0:300}"
}

finish() {
    echo "$((checks - failures)) passed, $failures failed"
    [[ $failures -eq 0 ]]
    exit
}

# The exit status that CTest reads as a skip (SKIP_RETURN_CODE).
skip() {
    echo "SKIPPED: $*"
    exit 77
}

# Completes lines in a real interactive shell (see pty_complete.zsh); prints one line of
# words per case: "<sonteva><convert><-a><SoX VHQ>".
#   complete_in_pty "SHELL COMMAND" "SETUP LINE" "LINE"...
complete_in_pty() {
    command -v zsh >/dev/null || skip "zsh is not installed (scripts/install-deps installs it)"
    zsh -f "$here/pty_complete.zsh" "$@"
}

# What the program's own help says, for the tests to derive what they expect from it rather
# than repeat it. help_commands PROGRAM: the commands of the overview's "Commands:" section,
# one a line.
help_commands() {
    "$1" help 2>/dev/null | sed -n '/^Commands:/,/^[^ ]/s/^  \([a-z][a-z0-9-]*\) .*/\1/p'
}

# options_in: the options that the help text on standard input shows, one a line: long
# options wherever they stand, short ones where an option is listed or written into a usage
# line.
options_in() {
    grep -oE -- '(^|[ [(|])(--[a-z][a-z0-9-]*|-[A-Za-z])([],= ]|$)' |
        sed -E 's/^[ [(|]//; s/[],= ]$//' | sort -u
}

# help_options PROGRAM: every option that any help page shows (the overview's and each
# command's), one a line.
help_options() {
    local command
    {
        "$1" help 2>/dev/null
        for command in $(help_commands "$1"); do "$1" help "$command" 2>/dev/null; done
    } | options_in
}
