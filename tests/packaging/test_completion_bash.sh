#!/usr/bin/env bash
# The generated bash completion: what it offers for each kind of word, driven the way
# bash-completion drives it, and what readline then writes into the line.
#   test_completion_bash.sh <completion script> <folder of the sonteva program>
source "$(dirname "$0")/lib.sh"
completion=$1
bin=$2
[[ -r /usr/share/bash-completion/bash_completion ]] ||
    skip "bash-completion is not installed (scripts/install-deps installs it)"

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config PATH=$bin:$PATH
mkdir -p "$HOME"
cd "$scratch" || exit 1
# A user preset whose name a shell would misread, and files and folders to complete.
"$bin/sonteva" presets save "Client 'A' / Mix" -r 48000 >/dev/null
mkdir -p "out dir/sub" masters
: >"take 1.wav"
: >masters/x.flac

# complete_words WORD... : the reply for the last word, entries joined by "|".
complete_words() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$0"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        # Readline splits "--rate=48" into "--rate" "=" "48"; the line has no spaces there.
        COMP_LINE=$1
        for ((i = 2; i <= $#; i++)); do
            [[ ${!i} == = || ${@:i-1:1} == = ]] && COMP_LINE+=${!i} || COMP_LINE+=" ${!i}"
        done
        COMP_POINT=${#COMP_LINE}
        _sonteva 2>/dev/null
        IFS="|"
        echo "${COMPREPLY[*]}"
    ' "$completion" "$@"
}

# Each case: the words typed, the last being completed, "=>" and the reply ("|" between);
# @ENGINES@ stands for the engines that `sonteva engines` lists.
engines=$("$bin/sonteva" engines 2>/dev/null | sed -E 's/  .*//' | paste -sd '|')
while IFS= read -r line; do
    eval "args=(${line%% => *})"
    want=${line#* => }
    expect "${line%% => *}" "${want//@ENGINES@/$engines}" "$(complete_words "${args[@]}")"
done <<'CASES'
sonteva con => convert
sonteva presets '' => list|save|delete
sonteva presets s => save
sonteva presets save --rep => --replace
sonteva presets list --rep => 
sonteva presets delete --r => 
sonteva convert -a '' => @ENGINES@
sonteva convert --algorithm So => Sonteva SRC|SoX VHQ
sonteva convert -a '"SoX' => SoX VHQ
sonteva convert -a "'SoX" => SoX VHQ
sonteva convert -a 'SoX\ ' => SoX VHQ
sonteva convert --algorithm = SoX => SoX VHQ
sonteva presets save Name -a '' => @ENGINES@
sonteva convert -r '' => 44100|48000|88200|96000|176400|192000|352800|384000
sonteva convert --rate 1 => 176400|192000
sonteva play -b '' => 16|24|32|32f|64f
sonteva convert -d '' => None|TPDF|Noise Shaping Low|Noise Shaping Medium|Noise Shaping High
sonteva convert -f '' => wav|aiff|flac
sonteva convert -p Cli => Client 'A' / Mix
sonteva presets list --preset CD => CD Master
sonteva convert -o ou => out dir
sonteva convert --postfix '' => 
sonteva convert masters/ => masters/x.flac
sonteva convert -r 48000 -a 'SoX VHQ' take => take 1.wav
sonteva demo o => out dir
sonteva convert --manifest masters/ => masters/x.flac
sonteva convert --report=masters/ => masters/x.flac
sonteva measure --plot masters/ => masters/x.flac
sonteva measure --all '' => 
sonteva help con => convert
sonteva engines '' => 
sonteva nope '' => 
CASES

# The commands are the overview's; for every command path the options offered are the ones
# its data holds (whether they are right is test_completion_program's matter).
expect "sonteva ''" "$(help_commands "$bin/sonteva" | paste -sd '|')" "$(complete_words sonteva '')"
complete() { :; } # the script registers itself; not needed here
source "$completion"
for command in "${_sonteva_commands[@]}"; do
    paths=("$command")
    _sonteva_get subs "$command" && for sub in "${_sonteva_got[@]}"; do paths+=("$command $sub"); done
    for path in "${paths[@]}"; do
        _sonteva_get flags "$path"
        want=("${_sonteva_got[@]}")
        _sonteva_get valued "$path"
        want+=("${_sonteva_got[@]}")
        read -ra words <<<"$path"
        expect "sonteva $path - offers its options" "$(printf '%s\n' "${want[@]}" | sort | paste -sd '|')" \
            "$(complete_words sonteva "${words[@]}" - | tr '|' '\n' | sort | paste -sd '|')"
    done
done

# Words a hostile user types are never evaluated.
for word in 'x}$(touch pwned)' '$(touch pwned)' '`touch pwned`' 'a[$(touch pwned)]' "';touch pwned;'"; do
    complete_words sonteva "$word" - >/dev/null
    complete_words sonteva "$word" -r '' >/dev/null
    complete_words sonteva presets "$word" - >/dev/null
    complete_words sonteva convert -a "$word" >/dev/null
done
check "no typed word is run as a command" test ! -e pwned

# The same through readline in a real interactive bash: the words as the program gets them.
results=$(complete_in_pty "env -i TERM=dumb HOME=$HOME PATH=$PATH INPUTRC=/dev/null HISTFILE= bash --norc --noprofile -i" \
    "PS1='> '; source /usr/share/bash-completion/bash_completion; source '$completion'; bind 'set bell-style none'" \
    'sonteva convert -a SoX' \
    'sonteva convert -a "SoX' \
    "sonteva convert -a 'Zav" \
    'sonteva convert -d Noise\ Shaping\ Me' \
    'sonteva convert --preset=Vid' \
    'sonteva convert -p Cli' \
    'sonteva convert -r 48000 tak' \
    'sonteva presets sa')
expected='<sonteva><convert><-a><SoX VHQ>
<sonteva><convert><-a><SoX VHQ>
<sonteva><convert><-a><Zavir Iravizeza>
<sonteva><convert><-d><Noise Shaping Medium>
<sonteva><convert><--preset=Video / DVD>
<sonteva><convert><-p><Client '"'A'"' / Mix>
<sonteva><convert><-r><48000><take 1.wav>
<sonteva><presets><save>'
expect "readline completes and quotes" "$expected" "$results"
finish
