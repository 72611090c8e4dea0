#!/usr/bin/env bash
# The completion offers what the program takes, no more and no less: each option it offers
# for a command is accepted by that command, each value it offers is accepted, every
# option of the help is offered somewhere, and the program still refuses what it should.
#   test_completion_program.sh <bash completion script> <folder of the sonteva program>
source "$(dirname "$0")/lib.sh"
completion=$1
sonteva=$2/sonteva
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config SONTEVA_OUTPUT=virtual
mkdir -p "$HOME"
cd "$scratch" || exit 1
complete() { :; } # the script registers itself; not needed here
source "$completion"

# run ARGS...: exit status and the first line of standard error in "$status" and "$said".
run() {
    "$sonteva" "$@" >/dev/null 2>"$scratch/err"
    status=$?
    said=$(head -n 1 "$scratch/err")
}

# The argument a command path needs after its options.
positional() {
    case $1 in
        "presets save" | "presets delete") echo "Test preset" ;;
        *) [[ $(_sonteva_get args "$1" && echo "${_sonteva_got[0]}") == files ]] && echo missing.wav ;;
    esac
}

value_for() {
    case $(_sonteva_long_name "$1") in
        --rate) echo "${_sonteva_rates[0]}" ;;
        --bits) echo "${_sonteva_bits[0]}" ;;
        --algorithm) echo "${_sonteva_engines[0]}" ;;
        --dither) echo "${_sonteva_dithers[0]}" ;;
        --format) echo "${_sonteva_formats[0]}" ;;
        --preset) echo "${_sonteva_presets[0]}" ;;
        --output-dir) echo "$scratch" ;;
        *) echo 1 ;;
    esac
}

# An option the command refuses: a usage error (2) whose message names the option.
refused() { [[ $status -eq 2 && $said == *"$1"* ]]; }

paths=()
for command in "${_sonteva_commands[@]}"; do
    if _sonteva_get subs "$command"; then
        for sub in "${_sonteva_got[@]}"; do paths+=("$command $sub"); done
    else
        paths+=("$command")
    fi
done
offered=" "
for path in "${paths[@]}"; do
    # demo renders its master through every engine: too long to run per option.
    [[ $path == demo ]] && continue
    read -ra words <<<"$path"
    mapfile -t arg < <(positional "$path")
    _sonteva_get flags "$path"
    for option in "${_sonteva_got[@]}"; do
        offered+="$option "
        run "${words[@]}" "$option" "${arg[@]}"
        checks=$((checks + 1))
        refused "$option" && fail "sonteva $path refuses $option, which completion offers: $said"
    done
    _sonteva_get valued "$path"
    for option in "${_sonteva_got[@]}"; do
        offered+="$option "
        run "${words[@]}" "$option" "$(value_for "$option")" "${arg[@]}"
        checks=$((checks + 1))
        refused "$option" && fail "sonteva $path refuses $option, which completion offers: $said"
    done
done

# The method sees a refusal when there is one.
run convert --no-such-option missing.wav
check "an unknown option is refused ($status: $said)" refused --no-such-option

# Every value offered is accepted, and one that is not offered is refused.
for list in rates:--rate bits:--bits engines:--algorithm dithers:--dither formats:--format presets:--preset; do
    name=_sonteva_${list%%:*}[@]
    option=${list#*:}
    checks=$((checks + 1))
    [[ -n ${!name} ]] || fail "no values for $option"
    for value in "${!name}"; do
        run presets list "$option" "$value"
        checks=$((checks + 1))
        [[ $status -eq 0 ]] || fail "sonteva refuses $option \"$value\", which completion offers: $said"
    done
    run presets list "$option" "not a ${list%%:*} value"
    checks=$((checks + 1))
    [[ $status -eq 2 ]] || fail "sonteva accepts a $option value that is not offered"
done

# Every option the help shows is offered for some command.
help=$("$sonteva" help 2>/dev/null || "$sonteva" --help)
for option in $(grep -oE -- '(^|[ [])--[a-z][a-z0-9-]*' <<<"$help" | tr -d ' [' | sort -u); do
    [[ $option == --help || $option == --version ]] && continue
    expect_match "completion offers $option from the help" " $option " "$offered"
done
finish
