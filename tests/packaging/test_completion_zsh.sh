#!/usr/bin/env bash
# The generated zsh completion, in a real interactive zsh: the words the program gets after
# Tab, quoting included.
#   test_completion_zsh.sh <folder holding _sonteva> <folder of the sonteva program>
source "$(dirname "$0")/lib.sh"
functions=$1
bin=$2
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config PATH=$bin:$PATH
mkdir -p "$HOME"
cd "$scratch" || exit 1
"$bin/sonteva" presets save "Client 'A' / Mix" -r 48000 >/dev/null
mkdir -p "out dir" masters
: >"take 1.wav"
: >masters/x.flac
: >"out file"

check "the completion parses" zsh -n "$functions/_sonteva"

# Each case: what is typed before Tab, "=>", and the words the program then gets.
lines=()
expected=""
while IFS= read -r line; do
    lines+=("${line%% => *}")
    expected+="${line#* => }"$'\n'
done <<'CASES'
sonteva conv => <sonteva><convert>
sonteva presets sa => <sonteva><presets><save>
sonteva convert -a SoX => <sonteva><convert><-a><SoX VHQ>
sonteva convert -a "SoX => <sonteva><convert><-a><SoX VHQ>
sonteva convert -a 'Zav => <sonteva><convert><-a><Zavir Iravizeza>
sonteva convert --algorithm=r8 => <sonteva><convert><--algorithm=r8brain Free>
sonteva convert -d Noise\ Shaping\ Me => <sonteva><convert><-d><Noise Shaping Medium>
sonteva convert --preset=Vid => <sonteva><convert><--preset=Video / DVD>
sonteva convert -p Cli => <sonteva><convert><-p><Client 'A' / Mix>
sonteva convert -r 35 => <sonteva><convert><-r><352800>
sonteva play -b 32 => <sonteva><play><-b><32>
sonteva convert -f fl => <sonteva><convert><-f><flac>
sonteva convert --compensate => <sonteva><convert><--compensate-delay>
sonteva convert -r 48000 tak => <sonteva><convert><-r><48000><take 1.wav>
sonteva convert -o out => <sonteva><convert><-o><out dir>
sonteva demo out => <sonteva><demo><out dir>
sonteva play --start 3 --match => <sonteva><play><--start><3><--match-rate>
sonteva info --ra => <sonteva><info><--ra>
sonteva presets save --rep => <sonteva><presets><save><--replace>
sonteva presets delete --re => <sonteva><presets><delete><--re>
sonteva convert --manifest tak => <sonteva><convert><--manifest><take 1.wav>
sonteva measure --all --js => <sonteva><measure><--all><--json>
sonteva help mea => <sonteva><help><measure>
sonteva 'x}$(touch pwned)' -r 4 => <sonteva><x}$(touch pwned)><-r><4>
CASES
results=$(complete_in_pty "env -i TERM=dumb HOME=$HOME PATH=$PATH zsh -f -i" \
    "PS1='> '; fpath=('$functions' \$fpath); autoload -Uz compinit; compinit -u -D; unsetopt beep" \
    "${lines[@]}")
expect "zsh completes and quotes" "${expected%$'\n'}" "$results"
check "no typed word is run as a command" test ! -e pwned
finish
