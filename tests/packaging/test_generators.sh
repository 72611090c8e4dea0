#!/usr/bin/env bash
# The man page and completion generators against stand-in programs: one whose commands each
# answer --help (the page then holds every command's text, the completion its options), one
# whose commands do not, which must never be run with --help (a command could take it for a
# file or folder name and do its work), and one laid out as sonteva's help is now: several
# usage lines aligned under "Usage:", one wrapped, one page for a command's subcommands,
# options with their values on usage lines, examples that show other options.
#   test_generators.sh <cmake> <packaging source folder> <completion_values program>
source "$(dirname "$0")/lib.sh"
cmake=$1
src=$2
values=$3
command -v help2man >/dev/null || skip "help2man is not installed (scripts/install-deps installs it)"

# stand_in NAME: a program that logs its arguments and prints the texts of "$scratch/NAME/".
stand_in() {
    mkdir -p "$scratch/$1"
    cat >"$scratch/$1/sonteva" <<SCRIPT
#!/usr/bin/env bash
echo "\$*" >>"$scratch/$1/log"
args="\$*"
key=\${args// /_}
[[ -z \$key ]] && key=help
[[ \$key == --help ]] && key=help
[[ -f "$scratch/$1/\$key" ]] || { echo "sonteva: unknown command" >&2; exit 2; }
cat "$scratch/$1/\$key"
SCRIPT
    chmod +x "$scratch/$1/sonteva"
}

generate() {
    local dir=$scratch/$1
    "$cmake" -DSONTEVA="$dir/sonteva" -DVALUES="$values" -DSONTEVA_WORK="$dir/work" \
        -DBASH_IN="$src/sonteva.bash.in" -DBASH_OUT="$dir/sonteva.bash" \
        -DZSH_IN="$src/_sonteva.zsh.in" -DZSH_OUT="$dir/_sonteva" \
        -P "$src/gen_completions.cmake" >"$dir/gen.log" 2>&1 || fail "$1: completions: $(cat "$dir/gen.log")"
    "$cmake" -DSONTEVA="$dir/sonteva" -DHELP2MAN="$(command -v help2man)" -DGZIP="$(command -v gzip)" \
        -DVERSION=9.9.9 -DSTATIC="$src/sonteva.h2m" -DSONTEVA_WORK="$dir/man" -DOUT="$dir/sonteva.1.gz" \
        -P "$src/gen_man.cmake" >>"$dir/gen.log" 2>&1 || fail "$1: man page: $(cat "$dir/gen.log")"
}

# A program with a command list and help for each command.
stand_in own
cd "$scratch/own" || exit 1
cat >help <<'TEXT'
Usage: sonteva COMMAND [options] [ARGS]

Commands:
  convert    render one job per file, in order
  presets    list, save and delete presets
  engines    which engines run here

Run "sonteva COMMAND --help" for the options of a command.
TEXT
echo "sonteva 9.9.9" >--version
cat >convert_--help <<'TEXT'
Usage: sonteva convert [options] FILE...
Render one job per file, in order.

Options:
  -r, --rate HZ          output rate; it's "quoted" and \back\slashed
  -j, --jobs N           jobs at once
      --json             one JSON object per job
  -h, --help             show this help
TEXT
cat >presets_--help <<'TEXT'
Usage:
  sonteva presets list [recipe]
  sonteva presets save NAME [recipe]
TEXT
cat >presets_list_--help <<'TEXT'
Usage: sonteva presets list [options]

Options:
  -a, --algorithm NAME   engine
TEXT
cat >presets_save_--help <<'TEXT'
Usage: sonteva presets save NAME [options]

Options:
  -b, --bits DEPTH       word length
      --force            replace a preset of that name
TEXT
cat >engines_--help <<'TEXT'
Usage: sonteva engines
.leading dot line
'apostrophe line
A semicolon; and [brackets
TEXT
generate own
data=$(cat "$scratch/own/sonteva.bash")
for line in '_sonteva_commands=(convert presets engines)' '_sonteva_top=(--help --version)' \
    '_sonteva_valued__convert=(-r --rate -j --jobs)' '_sonteva_flags__convert=(--json -h --help)' \
    '_sonteva_args__convert=files' '_sonteva_subs__presets=(list save)' \
    '_sonteva_valued__presets_list=(-a --algorithm)' '_sonteva_valued__presets_save=(-b --bits)' \
    '_sonteva_flags__presets_save=(--force)' '_sonteva_args__engines=none'; do
    check "completion data has $line" grep -Fxq -- "$line" <<<"$data"
done
check "the zsh completion parses" zsh -n "$scratch/own/_sonteva"
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$scratch/own/sonteva.1.gz" 2>&1)
for text in 'COMMANDS' 'sonteva convert' '-j, --jobs N' 'jobs at once' \
    "output rate; it's \"quoted\" and \\back\\slashed" 'sonteva presets list' '-a, --algorithm NAME' \
    'sonteva presets save' 'replace a preset of that name' 'sonteva engines' '.leading dot line' \
    "'apostrophe line" 'A semicolon; and [brackets' 'ENVIRONMENT' 'SONTEVA_RESOURCE_DIR'; do
    checks=$((checks + 1))
    [[ $page == *"$text"* ]] || fail "the page shows: $text" "$page"
done
warnings=$(zcat "$scratch/own/sonteva.1.gz" | groff -man -ww -z -Tutf8 2>&1)
expect "groff warns about nothing" "" "$warnings"

# A program whose commands do not answer --help: the overview's usage lines tell the options.
stand_in plain
cd "$scratch/plain" || exit 1
cat >help <<'TEXT'
Usage:
  sonteva convert [options] FILE...   render
  sonteva play [recipe] [--start S] FILE
  sonteva demo [DIR]                  write a demo master and render it

Recipe:
  -r, --rate HZ          output rate
Convert only:
      --json             one JSON object per job
TEXT
generate plain
data=$(cat "$scratch/plain/sonteva.bash")
for line in '_sonteva_commands=(convert play demo)' '_sonteva_top=(--help)' \
    '_sonteva_valued__convert=(-r --rate)' '_sonteva_flags__convert=(--json)' \
    '_sonteva_valued__play=(--start -r --rate)' '_sonteva_flags__play=()' '_sonteva_args__demo=dirs'; do
    check "completion data has $line" grep -Fxq -- "$line" <<<"$data"
done
asked=$(grep -v -x -e help -e --help -e --version "$scratch/plain/log" | sort -u | tr '\n' ' ')
expect "no command is run with --help when the program does not offer it" "" "$asked"

stand_in shared
cd "$scratch/shared" || exit 1
cat >help <<'TEXT'
Usage: sonteva COMMAND [OPTIONS] [ARGUMENTS]

Commands:
  convert    render one job per file
  presets    list, save and delete presets
  measure    what the engines do
  help       show this overview

Options:
  -h, --help     show this overview
      --version  show the version
TEXT
echo "sonteva 9.9.9" >--version
cat >convert_--help <<'TEXT'
Usage: sonteva convert [OPTIONS] FILE...
       sonteva convert [OPTIONS] --manifest FILE [--shard K/N] [--skip-done]
                       [--report FILE]

Options:
  -r, --rate RATE          output rate
      --manifest FILE      one job per line
      --shard K/N          task K of N
      --skip-done          skip what is delivered
      --report FILE        append a line per job
  -h, --help               show this help

Examples:
  sonteva convert --example-only x.wav
  sonteva convert --manifest m.tsv --shard 0/4 --skip-done \
      --report reports/task0.ndjson
TEXT
cat >presets_--help <<'TEXT'
Usage: sonteva presets list [RECIPE OPTIONS]
       sonteva presets save [--replace] NAME [RECIPE OPTIONS]
       sonteva presets delete NAME

Recipe (defaults: "Sonteva SRC"):
  -b, --bits DEPTH         word length

Options:
      --replace            (save) replace a preset of that name
  -h, --help               show this help

Example:
  sonteva presets delete --example-only "Client A"
TEXT
for sub in list save delete; do cp presets_--help "presets_${sub}_--help"; done
cat >measure_--help <<'TEXT'
Usage: sonteva measure -a ENGINE --from HZ [--json] [--plot FILE.png]
       sonteva measure --all --from HZ [--json]

Options:
  -a, --algorithm NAME     one engine
      --all                every engine
      --from HZ            the source rate
      --json               one JSON object
      --plot FILE.png      draw the response
  -h, --help               show this help
TEXT
cat >help_--help <<'TEXT'
Usage: sonteva help [COMMAND]

Options:
  -h, --help               show this help
TEXT
generate shared
data=$(cat "$scratch/shared/sonteva.bash")
for line in '_sonteva_commands=(convert presets measure help)' '_sonteva_top=(-h --help --version)' \
    '_sonteva_valued__convert=(-r --rate --manifest --shard --report)' \
    '_sonteva_flags__convert=(--skip-done -h --help)' '_sonteva_args__convert=files' \
    '_sonteva_subs__presets=(list save delete)' '_sonteva_flags__presets=(-h --help)' \
    '_sonteva_valued__presets=()' '_sonteva_flags__presets_list=(-h --help)' \
    '_sonteva_valued__presets_list=(-b --bits)' '_sonteva_flags__presets_save=(--replace -h --help)' \
    '_sonteva_valued__presets_save=(-b --bits)' '_sonteva_flags__presets_delete=(-h --help)' \
    '_sonteva_valued__presets_delete=()' '_sonteva_args__presets_delete=none' \
    '_sonteva_valued__measure=(-a --algorithm --from --plot)' \
    '_sonteva_flags__measure=(--all --json -h --help)' '_sonteva_args__measure=none' \
    '_sonteva_flags__help=(-h --help)' '_sonteva_args__help=commands' \
    '_sonteva_file_options=(--manifest --report --plot)'; do
    check "completion data has $line" grep -Fxq -- "$line" <<<"$data"
done
checks=$((checks + 1))
! grep -q -- --example-only <<<"$data" || fail "an option only an example shows is offered"
roff=$(zcat "$scratch/shared/sonteva.1.gz")
expect "the page's sections" "NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS ENVIRONMENT FILES \"SEE ALSO\"" \
    "$(sed -n 's/^\.SH //p' <<<"$roff" | paste -sd ' ')"
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$scratch/shared/sonteva.1.gz" 2>&1)
# Each usage line and each example a line of its own (the wrapped ones joined).
for line in 'sonteva convert [OPTIONS] FILE...' \
    'sonteva convert [OPTIONS] --manifest FILE [--shard K/N] [--skip-done] [--report FILE]' \
    'sonteva presets list [RECIPE OPTIONS]' 'sonteva presets save [--replace] NAME [RECIPE OPTIONS]' \
    'sonteva presets delete NAME' 'sonteva measure --all --from HZ [--json]' \
    'sonteva convert --manifest m.tsv --shard 0/4 --skip-done --report reports/task0.ndjson' \
    'sonteva convert --example-only x.wav' 'Recipe (defaults: "Sonteva SRC"):'; do
    checks=$((checks + 1))
    sed 's/^ *//' <<<"$page" | grep -xF -- "$line" >/dev/null || fail "the page has the line: $line" "$page"
done
warnings=$(groff -man -ww -z -Tutf8 <<<"$roff" 2>&1)
expect "groff warns about nothing" "" "$warnings"
finish
