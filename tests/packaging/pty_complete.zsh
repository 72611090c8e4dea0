# Drives an interactive shell in a pseudo-terminal: types each line followed by Tab, so
# that the shell's own completion (readline's or zsh's, quoting included) edits it, then
# turns the edited line into `printf "<%s>"` of its words and prints what that printed:
# exactly the words the shell would pass to the program. The shell handles keys in order
# and completes synchronously, so no timing decides the result; the pauses only pace it.
#   zsh -f pty_complete.zsh "SHELL COMMAND" "SETUP LINE" "LINE"...
zmodload zsh/zpty || exit 3
local shell=$1 setup=$2 line chunk out
shift 2
zpty -b sh "$shell" || exit 3
zpty -w sh "$setup"
for line in "$@"; do
    zpty -w -n sh "$line"$'\t'
    sleep 0.1
    # Ctrl-A, the printf in front, Ctrl-E, and a marker that ends this case's output.
    zpty -w sh $'\x01printf "<%s>" \x05; echo; echo __DONE__'
    out=""
    integer idle=0
    while (( idle < 300 )); do  # up to 30 s of silence: a loaded machine
        if zpty -r -t sh chunk; then
            out+=$chunk
            idle=0
            [[ $out == *$'\n__DONE__'* ]] && break
        else
            sleep 0.1
            (( idle++ ))
        fi
    done
    out=${out//$'\r'/}
    local -a found=(${(M)${(f)out}:#*\<sonteva\>*})
    if (( $#found )); then
        print -r -- "<sonteva>${found[-1]#*<sonteva>}"
    else
        print -r -- "(nothing)"
    fi
done
zpty -d sh
