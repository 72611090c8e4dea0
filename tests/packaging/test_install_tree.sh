#!/usr/bin/env bash
# `cmake --install` into a staging root, as a package build does: exactly the expected files,
# programs that find their resource folder from where they were installed (also through a
# symbolic link, and overridden by SONTEVA_RESOURCE_DIR), a conversion from the installed
# programs, valid desktop entry, metainfo and manuals, and an uninstall that leaves no file.
#   test_install_tree.sh <cmake> <build folder> <stand-in ssrc_hp> <version>
source "$(dirname "$0")/lib.sh"
cmake=$1
build=$2
fake_ssrc=$3
version=$4
root=$scratch/root
usr=$root/usr
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config PATH=/usr/bin:/bin
mkdir -p "$HOME"

DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; finish; }

installed=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort | tr '\n' ' ')
expect "installed files" "usr/bin/sonteva usr/bin/sonteva-gui \
usr/share/applications/sonteva.desktop usr/share/bash-completion/completions/sonteva \
usr/share/doc/sonteva/catalogue.md usr/share/doc/sonteva/command-line.md \
usr/share/doc/sonteva/copyright usr/share/doc/sonteva/delivery.md usr/share/doc/sonteva/engines.md \
usr/share/doc/sonteva/examples/sonteva-array.sbatch usr/share/doc/sonteva/examples/sonteva-parallel.sh \
usr/share/doc/sonteva/window.md usr/share/icons/hicolor/scalable/apps/sonteva.svg \
usr/share/man/man1/sonteva-gui.1.gz usr/share/man/man1/sonteva.1.gz \
usr/share/metainfo/org.sonteva.Sonteva.metainfo.xml usr/share/zsh/vendor-completions/_sonteva " \
    "$installed"
check "the resource folder is installed" test -d "$usr/share/sonteva"

# The programs find <prefix>/share/sonteva wherever the tree was put.
cp "$fake_ssrc" "$usr/share/sonteva/ssrc_hp"
engines=$("$usr/bin/sonteva" engines 2>&1)
expect_match "ssrc_hp is found in the relocated resource folder" \
    "SSRC Shibata +external converter $usr/share/sonteva/ssrc_hp" "$engines"
mkdir -p "$scratch/elsewhere"
ln -s "$usr/bin/sonteva" "$scratch/elsewhere/sonteva"
engines=$("$scratch/elsewhere/sonteva" engines 2>&1)
expect_match "a symbolic link to the program finds the same folder" \
    "external converter $usr/share/sonteva/ssrc_hp" "$engines"
mkdir -p "$scratch/resources"
engines=$(SONTEVA_RESOURCE_DIR=$scratch/resources "$usr/bin/sonteva" engines 2>&1)
expect_match "SONTEVA_RESOURCE_DIR overrides it" "SSRC Shibata +not available" "$engines"

# A conversion from the installed program, through the in-house engine and through the
# converter found in the resource folder.
sox -n -r 96000 -b 24 -c 2 "$scratch/master.wav" synth 1 sine 997 gain -6 2>/dev/null ||
    fail "sox could not make the source"
mkdir -p "$scratch/out"
for engine in "Sonteva SRC" "SSRC Shibata"; do
    "$usr/bin/sonteva" convert -r 44100 -b 16 -a "$engine" -o "$scratch/out" --postfix "_$engine" \
        "$scratch/master.wav" >"$scratch/convert.log" 2>&1
    expect "the installed program converts with $engine: $(cat "$scratch/convert.log")" 0 $?
    info=$("$usr/bin/sonteva" info "$scratch/out/master_$engine.wav" 2>&1)
    expect_match "the output is 44.1 kHz" "Sample rate: +44.1 kHz \(44100 Hz\)" "$info"
    expect_match "the output is 16-bit stereo" "16-bit integer.*2 channels \(stereo\)" "$info"
done
gui=$(QT_QPA_PLATFORM=offscreen "$usr/bin/sonteva-gui" --version 2>/dev/null)
expect_match "sonteva-gui --version" "$version" "$gui"

# The desktop entry, its icon and program, and the metainfo that names them.
desktop=$usr/share/applications/sonteva.desktop
metainfo=$usr/share/metainfo/org.sonteva.Sonteva.metainfo.xml
check "desktop-file-validate passes" desktop-file-validate "$desktop"
check "appstreamcli validate passes" appstreamcli validate --no-net --strict "$metainfo"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
check "Exec names an installed program ($exec_program)" test -x "$usr/bin/$exec_program"
check "Icon names the installed icon ($icon)" test -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg"
check "the metainfo launches the installed desktop entry" \
    grep -q '<launchable type="desktop-id">sonteva.desktop</launchable>' "$metainfo"
check "the metainfo names the licence" grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo"
check "the package copyright names the licence" grep -q '^License: GPL-3.0-or-later' "$usr/share/doc/sonteva/copyright"

# The manuals: no roff warnings, and sonteva(1) shows every command and long option of the help.
for page in sonteva sonteva-gui; do
    warnings=$(zcat "$usr/share/man/man1/$page.1.gz" | groff -man -ww -z -Tutf8 2>&1)
    expect "$page(1) has no roff warnings" "" "$warnings"
done
# Every command has its subsection, which shows every option of the command's help.
manual=$(LC_ALL=C.UTF-8 MANWIDTH=300 man -l "$usr/share/man/man1/sonteva.1.gz" 2>&1)
mapfile -t commands < <(help_commands "$usr/bin/sonteva")
checks=$((checks + 1))
[[ ${#commands[@]} -gt 0 ]] || fail "sonteva help lists no command"
for command in "${commands[@]}"; do
    section=$(awk -v head="   sonteva $command" '$0 == head { on = 1; next }
        on && (/^   sonteva / || /^[A-Z]/) { exit } on' <<<"$manual")
    checks=$((checks + 1))
    [[ -n $section ]] || { fail "sonteva(1) has no subsection \"sonteva $command\""; continue; }
    for option in $("$usr/bin/sonteva" help "$command" | options_in); do
        checks=$((checks + 1))
        [[ $section == *"$option"* ]] || fail "sonteva(1) shows $option under sonteva $command"
    done
done
for option in $(help_options "$usr/bin/sonteva"); do
    checks=$((checks + 1))
    [[ $manual == *"$option"* ]] || fail "sonteva(1) shows $option"
done
expect_match "sonteva(1) is for this version" "sonteva $version" "$manual"
# The guides the help, the page and the guides themselves point to are installed.
for guide in $(cat <(echo "$manual") <("$usr/bin/sonteva" help convert) "$usr"/share/doc/sonteva/*.md |
    grep -oE '[a-z-]+\.md' | sort -u); do
    check "the guide $guide is installed" test -f "$usr/share/doc/sonteva/$guide"
done
# The command-line guide covers every command and every option of the help.
guide=$(cat "$usr/share/doc/sonteva/command-line.md")
for command in "${commands[@]}"; do
    checks=$((checks + 1))
    [[ $guide == *"\`$command"* ]] || fail "command-line.md shows sonteva $command"
done
for option in $(help_options "$usr/bin/sonteva"); do
    checks=$((checks + 1))
    [[ $guide == *"\`$option"* || $guide == *" $option"* ]] || fail "command-line.md shows $option"
done
check "the bash completion parses" bash -n "$usr/share/bash-completion/completions/sonteva"
if command -v zsh >/dev/null; then
    check "the zsh completion parses" zsh -n "$usr/share/zsh/vendor-completions/_sonteva"
fi

# Uninstalling by the install manifest leaves no file behind.
rm -f "$usr/share/sonteva/ssrc_hp"
# (The manifest names the files without the staging root.)
sed "s|^|$root|" "$build/install_manifest.txt" | xargs -d '\n' rm -f
left=$(cd "$root" && find . \( -type f -o -type l \) | tr '\n' ' ')
expect "no file is left after removing the manifest's files" "" "$left"
finish
