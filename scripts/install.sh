#!/usr/bin/env bash
# Installs Wrenpost for the current user, or removes it again.
#
#   scripts/install.sh [PREFIX]               build the Release program and install it
#   scripts/install.sh --uninstall [PREFIX]   remove it, keeping the mail and the preferences
#   scripts/install.sh --from FILE [PREFIX]   install FILE, an executable built before, instead
#
# The program's home is the folder that holds its executable: PREFIX, a folder of the user's,
# by default ~/.local/share/wrenpost. Its preferences.txt, console.txt and MailFolder/ live
# there and stay there through an uninstall. The desktop finds the program through its entry
# in ~/.local/share/applications, its icon in the hicolor theme under ~/.local/share/icons and
# its AppStream metadata in ~/.local/share/metainfo ($XDG_DATA_HOME in place of
# ~/.local/share where that is set). A system-wide install is not offered: a program whose home
# is its own folder belongs to one user.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

data=${XDG_DATA_HOME:-$HOME/.local/share}
entry=$data/applications/wrenpost.desktop
metainfo=$data/metainfo/com.corvane.wrenpost.metainfo.xml
icons=("$data/icons/hicolor/scalable/apps/wrenpost.svg" "$data/icons/hicolor/48x48/apps/wrenpost.png"
    "$data/icons/hicolor/128x128/apps/wrenpost.png")

usage() {
    echo "usage: install.sh [--uninstall | --from EXECUTABLE] [PREFIX]" >&2
    exit 2
}

mode=install from= home=
while [[ $# -gt 0 ]]; do
    case "$1" in
        --uninstall) mode=uninstall ;;
        --from)
            [[ $# -ge 2 ]] || usage
            from=$2
            shift
            ;;
        -*) usage ;;
        *)
            [[ -z "$home" ]] || usage
            home=$1
            ;;
    esac
    shift
done
[[ $mode == install || -z "$from" ]] || usage

# The installed entry's Path line names the home it was installed into; a desktop string
# writes a backslash as two.
installed_home() {
    local line
    line=$(grep -m1 '^Path=' "$entry" 2>/dev/null) || return 1
    line=${line#Path=}
    printf '%s' "${line//\\\\/\\}"
}

# Exec quotes the path for the desktop's command line (\ " ` $ escaped inside the quotes), then
# the whole value is written as a desktop string like Path.
exec_value() {
    local path=$1 c i quoted=
    for ((i = 0; i < ${#path}; i++)); do
        c=${path:i:1}
        case "$c" in
            \\ | \" | \` | \$) quoted+="\\$c" ;;
            *) quoted+=$c ;;
        esac
    done
    quoted="\"$quoted\""
    printf '%s' "${quoted//\\/\\\\}"
}

uninstall() {
    if [[ -z "$home" ]]; then
        home=$(installed_home) || home=$data/wrenpost
    fi
    [[ "$home" == /* ]] || home=$PWD/$home
    rm -f "$home/wrenpost" "$entry" "$metainfo" "${icons[@]}"
    echo "install.sh: removed the program from $home and its menu entry, icon and metadata from $data"
    if rmdir "$home" 2>/dev/null; then
        return 0
    fi
    local kept=()
    for name in preferences.txt console.txt MailFolder; do
        [[ -e "$home/$name" ]] && kept+=("$name")
    done
    if [[ ${#kept[@]} -gt 0 ]]; then
        echo "install.sh: your mail and preferences are kept in $home (${kept[*]});" \
            "installing again into that folder takes them up, deleting the folder removes them"
    else
        echo "install.sh: $home is kept: it holds files that are not the program's"
    fi
}

install_program() {
    [[ -n "$home" ]] || home=$data/wrenpost
    [[ "$home" == /* ]] || home=$PWD/$home
    # A % in Exec would have to be doubled, and GLib then looks for the program under the
    # doubled name: no desktop would start it.
    case "$home" in
        *$'\n'* | *$'\t'* | *$'\r'* | *%*)
            echo "install.sh: a folder whose name holds a line break, a tab or a % cannot be named in a desktop entry" >&2
            exit 1
            ;;
    esac
    mkdir -p "$home"
    if [[ ! -O "$home" || ! -w "$home" ]]; then
        echo "install.sh: $home is not a folder of yours that you can write to" >&2
        exit 1
    fi
    home=$(cd "$home" && pwd)

    source "$repo/scripts/deps.sh"
    wrenpost_deps install
    if [[ -z "$from" ]]; then
        cmake -S "$repo" -B "$repo/build" -G Ninja -DCMAKE_BUILD_TYPE=Release
        cmake --build "$repo/build" -j2 --target wrenpost
        from=$repo/build/wrenpost
    fi

    install -D -m 755 "$from" "$home/wrenpost"
    local string_home=${home//\\/\\\\} line
    mkdir -p "$(dirname "$entry")"
    while IFS= read -r line; do
        line=${line//@TRYEXEC@/"$string_home/wrenpost"}
        line=${line//@EXEC@/"$(exec_value "$home/wrenpost")"}
        printf '%s\n' "${line//@HOME@/"$string_home"}"
    done <"$repo/data/wrenpost.desktop" >"$entry"
    install -D -m 644 "$repo/data/wrenpost.svg" "${icons[0]}"
    # The bitmaps are drawn from the SVG here, so they cannot drift from it.
    for size in 48 128; do
        mkdir -p "$data/icons/hicolor/${size}x$size/apps"
        rsvg-convert -w "$size" -h "$size" -o "$data/icons/hicolor/${size}x$size/apps/wrenpost.png" "$repo/data/wrenpost.svg"
    done
    install -D -m 644 "$repo/data/com.corvane.wrenpost.metainfo.xml" "$metainfo"
    # Icon caches look at the theme folder's time to see that something changed.
    touch "$data/icons/hicolor"

    echo "install.sh: installed $home/wrenpost, with its menu entry, icon and metadata in $data"
    echo "install.sh: its preferences and mail live in $home; start it from the application menu" \
        "or with: gtk-launch wrenpost"
}

if [[ $mode == uninstall ]]; then
    uninstall
else
    install_program
fi
