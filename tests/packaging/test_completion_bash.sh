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

# complete WORD... : the reply for the last word, entries joined by "|".
complete() {
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

# Each case: the words typed, the last being completed, "=>" and the reply ("|" between).
while IFS= read -r line; do
    eval "args=(${line%% => *})"
    expect "${line%% => *}" "${line#* => }" "$(complete "${args[@]}")"
done <<'CASES'
sonteva '' => convert|info|presets|engines|devices|play|demo|measure
sonteva con => convert
sonteva presets '' => list|save|delete
sonteva presets s => save
sonteva convert -a '' => Sonteva SRC|Zavir Iravizeza|SoX VHQ|r8brain Free|SSRC Shibata
sonteva convert --algorithm So => Sonteva SRC|SoX VHQ
sonteva convert -a '"SoX' => SoX VHQ
sonteva convert -a "'SoX" => SoX VHQ
sonteva convert -a 'SoX\ ' => SoX VHQ
sonteva convert --algorithm = SoX => SoX VHQ
sonteva presets save Name -a '' => Sonteva SRC|Zavir Iravizeza|SoX VHQ|r8brain Free|SSRC Shibata
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
sonteva engines '' => 
sonteva nope '' => 
CASES

# Options: the command's own, never another command's.
opts=$(complete sonteva convert -)
for o in --rate --bits --algorithm --dither --format --preset --output-dir --postfix --json; do
    expect_match "convert offers $o" "(^|\|)$o(\||$)" "$opts"
done
expect_match "play offers --start" "(^|\|)--start(\||$)" "$(complete sonteva play --)"
opts=$(complete sonteva info --)
check "info offers no recipe option ($opts)" test "${opts/--rate/}" = "$opts"
check "presets delete offers no recipe option" test -z "$(complete sonteva presets delete -r)"

# Words a hostile user types are never evaluated.
for word in 'x}$(touch pwned)' '$(touch pwned)' '`touch pwned`' 'a[$(touch pwned)]' "';touch pwned;'"; do
    complete sonteva "$word" - >/dev/null
    complete sonteva "$word" -r '' >/dev/null
    complete sonteva presets "$word" - >/dev/null
    complete sonteva convert -a "$word" >/dev/null
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
