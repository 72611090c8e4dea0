#!/usr/bin/env bash
# The completion offers what the program takes, no more and no less. For every command path
# (each command, each subcommand, the program alone), every option that any help page shows
# is put to the program there: the ones it takes must be offered there, as a flag or with a
# value just as the program reads them, and the ones it refuses must not be. Every value
# offered is accepted, and the commands, engines and built-in presets are the program's.
#   test_completion_program.sh <bash completion script> <folder of the sonteva program>
source "$(dirname "$0")/lib.sh"
completion=$1
sonteva=$2/sonteva
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config SONTEVA_OUTPUT=virtual
mkdir -p "$HOME"
cd "$scratch" || exit 1
complete() { :; } # the script registers itself; not needed here
source "$completion"

# kind_of PATH OPTION: sets $kind to what the program makes of the option on that path:
# "flag", "valued" or "none" (refused). It is asked so that nothing ever runs: the program
# reads its options first and stops at the first one it does not know.
#   PATH OPTION --zz-value --zz-probe   "unknown option OPTION": refused;
#                                       "unknown option --zz-value": a flag;
#                                       the command's help (status 0): -h, --help;
#   PATH OPTION                         otherwise it took --zz-value as its value, and alone
#                                       it must say "option OPTION needs a value".
kind_of() {
    local -a words
    read -ra words <<<"$1"
    "$sonteva" "${words[@]}" "$2" --zz-value --zz-probe >"$scratch/out" 2>"$scratch/err"
    local status=$? said
    said=$(head -n 1 "$scratch/err")
    if [[ $status -eq 0 && $(head -c 6 "$scratch/out") == Usage: ]]; then
        kind=flag
    elif [[ $said == "sonteva: unknown option $2" ]]; then
        kind=none
    elif [[ $said == "sonteva: unknown option --zz-value" ]]; then
        kind=flag
    else
        "$sonteva" "${words[@]}" "$2" >/dev/null 2>"$scratch/err"
        [[ $(head -n 1 "$scratch/err") == "sonteva: option $2 needs a value" ]] && kind=valued || kind=none
    fi
}

# offered_as PATH OPTION: sets $offered to how the completion offers the option there.
offered_as() {
    offered=none
    _sonteva_get flags "$1" && [[ " ${_sonteva_got[*]} " == *" $2 "* ]] && offered=flag
    _sonteva_get valued "$1" && [[ " ${_sonteva_got[*]} " == *" $2 "* ]] && offered=valued
}

mapfile -t commands < <(help_commands "$sonteva")
mapfile -t options < <(help_options "$sonteva")
checks=$((checks + 1))
[[ ${#commands[@]} -gt 0 && ${#options[@]} -gt 0 ]] || fail "the program's help names no command or option"
expect "the commands offered are the overview's" "${commands[*]}" "${_sonteva_commands[*]}"

# Every subcommand offered is one the program takes: it goes on to read that subcommand's
# options (and stops at the first unknown one), as it does not for a made-up subcommand.
paths=()
for command in "${_sonteva_commands[@]}"; do
    paths+=("$command")
    _sonteva_get subs "$command" || continue
    for sub in "${_sonteva_got[@]}" zz-no-such-sub; do
        [[ $sub != zz-* ]] && paths+=("$command $sub")
        said=$("$sonteva" "$command" "$sub" --zz-probe 2>&1 >/dev/null | head -n 1)
        [[ $said == "sonteva: unknown option --zz-probe" ]] && taken=yes || taken=no
        [[ $sub != zz-* ]] && offered=yes || offered=no
        expect "sonteva $command $sub is taken ($taken: $said), the completion offers it ($offered)" \
            "$offered" "$taken"
    done
done
taken=0
for path in "${paths[@]}"; do
    # The help's options, whatever the completion offers here, and a made-up one.
    _sonteva_get flags "$path"
    here=("${_sonteva_got[@]}")
    _sonteva_get valued "$path"
    here+=("${_sonteva_got[@]}")
    for option in $(printf '%s\n' "${options[@]}" "${here[@]}" --zz-no-such-option | sort -u); do
        kind_of "$path" "$option"
        offered_as "$path" "$option"
        [[ $kind != none ]] && taken=$((taken + 1))
        expect "sonteva $path $option: the program reads it as $kind, the completion offers it as $offered" \
            "$kind" "$offered"
    done
done
checks=$((checks + 1))
[[ $taken -gt ${#paths[@]} ]] || fail "the program took almost no option: the probe is broken"

# The program's own options: each one offered runs; none other does.
for option in "${options[@]}"; do
    "$sonteva" "$option" >/dev/null 2>&1
    status=$?
    [[ " ${_sonteva_top[*]} " == *" $option "* ]] && offered=yes || offered=no
    [[ $status -eq 0 ]] && runs=yes || runs=no
    expect "sonteva $option runs ($runs), the completion offers it ($offered)" "$runs" "$offered"
done

# Every value offered is accepted, and one that is not offered is refused.
for list in rates:--rate bits:--bits engines:--algorithm dithers:--dither formats:--format presets:--preset; do
    name=_sonteva_${list%%:*}[@]
    option=${list#*:}
    checks=$((checks + 1))
    [[ -n ${!name} ]] || fail "no values for $option"
    for value in "${!name}"; do
        "$sonteva" presets list "$option" "$value" >/dev/null 2>"$scratch/err"
        checks=$((checks + 1))
        [[ $? -eq 0 ]] || fail "sonteva refuses $option \"$value\", which completion offers: $(head -n 1 "$scratch/err")"
    done
    "$sonteva" presets list "$option" "not a ${list%%:*} value" >/dev/null 2>&1
    expect "sonteva refuses a $option value that is not offered" 2 $?
done

# The engines and built-in presets offered are the ones the program lists.
engines=$("$sonteva" engines 2>/dev/null | sed -E 's/  .*//' | paste -sd '|')
expect "the engines offered are those of sonteva engines" "$engines" "$(IFS='|'; echo "${_sonteva_engines[*]}")"
presets=$("$sonteva" presets list 2>/dev/null | sed -n '/^Built-in presets:/,/^[^ ]/s/^  [* ] \(.*[^ ]\)  (.*)$/\1/p' | paste -sd '|')
expect "the presets offered are the built-ins of sonteva presets list" "$presets" "$(IFS='|'; echo "${_sonteva_presets[*]}")"
finish
