#!/usr/bin/env bash
# Regenerates the screenshots in docs/: builds build/wrenpost if needed, runs a copy of it
# in a temporary application folder with a complete demo account on a private virtual X
# server (1024x768), and photographs its windows, then the new-mail notification as dunst
# shows it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

source scripts/deps.sh
wrenpost_deps test

[[ -f build/build.ninja ]] || cmake -S . -B build -G Ninja
cmake --build build -j2 --target wrenpost

# ImageMagick by its own name: another "import" or "convert" may come first on PATH.
im_import=$(command -v import-im6.q16 || command -v import)
im_identify=$(command -v identify-im6.q16 || command -v identify)

app=$(mktemp -d)
xvfb_pid=
wrenpost_pid=
notice_pids=()
stop() {
    [[ -n "$1" ]] || return 0
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    stop "$wrenpost_pid"
    for pid in "${notice_pids[@]}"; do
        stop "$pid"
    done
    stop "$xvfb_pid"
    rm -rf "$app"
}
trap cleanup EXIT

cp build/wrenpost "$app/"
(umask 077 && printf '%s\r\n' \
    'user=joe' 'send user=joe' 'password=secret' 'save_password=Y' \
    'server=127.0.0.1:1110' 'save_send_password=N' 'send server=127.0.0.1:2525' \
    'retrieve interval=0' 'POP3User=' 'POP3UserSavePassword=' 'POP3UserFolder=' \
    'POP3RunsAtStartup=N' 'POP3_delete_message_if_client_requested=' \
    >"$app/preferences.txt")

# A virtual X server on a free display; it writes the display number it took to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$app/display" 2>"$app/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$app/display" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$app/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[[ -s "$app/display" ]] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$app/display")"

# A message in the inbox for the viewer.
mkdir -p "$app/MailFolder/InBox"
printf '%s\r\n' 'From: <ann@example.org>' 'To: <joe@example.org>' 'Subject: Lunch on Friday' \
    'Date: Fri, 04 Dec 2026 11:02:17 +0100' '' 'Hello Joe,' '' 'shall we meet at noon?' '' 'Ann' '.' \
    >"$app/MailFolder/InBox/261204_110217__1.txt"

"$app/wrenpost" >"$app/wrenpost.log" 2>&1 &
wrenpost_pid=$!

# shoot_window TITLE NAME: waits for the visible window titled exactly TITLE, lets it
# paint, and writes docs/NAME.png. Fails when the window never shows or the picture is
# a single flat colour.
shoot_window() {
    local title=$1 name=$2 window colours
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1) || {
        echo "screenshot.sh: no window titled '$title' appeared" >&2
        cat "$app/wrenpost.log" >&2
        return 1
    }
    sleep 1.5
    "$im_import" -display "$DISPLAY" -window "$window" \
        -define png:exclude-chunks=date,time "$repo/docs/$name.png"
    colours=$("$im_identify" -format '%k' "$repo/docs/$name.png")
    if [[ $colours -lt 3 ]]; then
        echo "screenshot.sh: docs/$name.png is blank ($colours colours)" >&2
        return 1
    fi
    echo "screenshot.sh: wrote docs/$name.png ($("$im_identify" -format '%wx%h' "$repo/docs/$name.png"))" >&2
}

# press WINDOW_TITLE KEYS...: gives the window the keyboard and types the keys into it.
press() {
    local window
    window=$(xdotool search --onlyvisible --name "^$1\$" | head -n 1)
    shift
    xdotool windowfocus --sync "$window"
    # Typed into the focused window (a key that closes it would break a --window send).
    xdotool key "$@"
}

shoot_window Wrenpost main-window

press Wrenpost ctrl+space
xdotool search --sync --onlyvisible --name '^Prepare and Send Message$' >/dev/null
xdotool type --delay 5 'ann@example.org'
press 'Prepare and Send Message' Tab
xdotool type --delay 5 'joe@example.org'
press 'Prepare and Send Message' Tab Tab
xdotool type --delay 5 'Lunch on Friday'
press 'Prepare and Send Message' Tab
xdotool type --delay 5 'Hello Joe, shall we meet at noon?'
shoot_window 'Prepare and Send Message' compose-window
press 'Prepare and Send Message' Escape

press Wrenpost alt+u
shoot_window 'SET USRER DATA' account-window
press 'SET USRER DATA' Escape

# Tools > Set POP3, with a user and password typed in; Esc in a text box keeps nothing.
press Wrenpost --delay 300 alt+t s
xdotool search --sync --onlyvisible --name '^SET POP3 SERVER DATA$' >/dev/null
sleep 0.5
press 'SET POP3 SERVER DATA' Tab Tab space shift+Tab shift+Tab
xdotool type --delay 5 'joe'
press 'SET POP3 SERVER DATA' Tab
xdotool type --delay 5 'secret'
shoot_window 'SET POP3 SERVER DATA' pop3-settings-window
press 'SET POP3 SERVER DATA' Escape

press Wrenpost alt+v
xdotool search --sync --onlyvisible --name '^Select mail or right click' >/dev/null
sleep 1
xdotool type --delay 5 '261204_110217__1.txt'
xdotool key Return
shoot_window '261204_110217__1.txt' viewer-window
press '261204_110217__1.txt' Escape

status=0
kill -TERM "$wrenpost_pid"
wait "$wrenpost_pid" || status=$?
wrenpost_pid=
if [[ $status -ne 0 ]]; then
    echo "screenshot.sh: wrenpost ended with status $status after SIGTERM" >&2
    cat "$app/wrenpost.log" >&2
    exit 1
fi

# The new-mail notification: a second copy of the program, in a home of its own, retrieves two
# messages from a POP3 server that serves them once, on a private session bus where dunst shows
# notifications. Its window is not the active one (there is no window manager), so it notifies.
notice=$app/notice
mkdir -p "$notice"
cp build/wrenpost "$notice/"
dbus-daemon --session --print-address=3 --nofork 3>"$notice/bus" &
notice_pids+=($!)
for _ in $(seq 100); do
    [[ -s "$notice/bus" ]] && break
    sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$notice/bus")
export DBUS_SESSION_BUS_ADDRESS
printf '%s\n' '[global]' 'font = DejaVu Sans 10' 'width = 340' 'origin = top-right' 'offset = 10x10' \
    'frame_color = "#282846"' 'show_indicators = no' '[urgency_normal]' 'background = "#faf5e1"' 'foreground = "#282846"' \
    'timeout = 0' >"$notice/dunstrc"
dunst -config "$notice/dunstrc" >"$notice/dunst.log" 2>&1 &
notice_pids+=($!)
/usr/bin/python3 - "$notice/pop3-port" >"$notice/pop3.log" 2>&1 <<'EOF' &
import socket
import sys

messages = [
    b"From: <ann@example.org>\r\nSubject: Lunch on Friday\r\n\r\nShall we meet at noon?\r\n",
    b"From: <bob@example.org>\r\nSubject: Minutes\r\n\r\nThe minutes of Tuesday.\r\n",
]
server = socket.create_server(("127.0.0.1", 0))
with open(sys.argv[1], "w") as port:
    port.write(str(server.getsockname()[1]))
while True:
    client, _ = server.accept()
    stream = client.makefile("rwb")
    stream.write(b"+OK ready\r\n")
    stream.flush()
    for line in stream:
        verb, _, argument = line.decode().strip().partition(" ")
        if verb == "STAT":
            stream.write(b"+OK %d %d\r\n" % (len(messages), sum(map(len, messages))))
        elif verb == "RETR":
            stream.write(b"+OK\r\n" + messages[int(argument) - 1] + b".\r\n")
        else:
            stream.write(b"+OK\r\n")
        stream.flush()
        if verb == "QUIT":
            break
    client.close()
    messages = []
EOF
notice_pids+=($!)
for _ in $(seq 100); do
    [[ -s "$notice/pop3-port" ]] && break
    sleep 0.1
done
(umask 077 && printf '%s\r\n' 'user=joe' 'password=secret' 'save_password=Y' \
    "server=127.0.0.1:$(cat "$notice/pop3-port")" 'retrieve interval=0.02' >"$notice/preferences.txt")
"$notice/wrenpost" >"$notice/wrenpost.log" 2>&1 &
notice_pids+=($!)
popup=$(timeout 20 xdotool search --sync --onlyvisible --class '^Dunst$' | head -n 1) || {
    echo "screenshot.sh: no notification appeared" >&2
    cat "$notice/wrenpost.log" "$notice/dunst.log" "$notice/pop3.log" >&2
    exit 1
}
sleep 1
"$im_import" -display "$DISPLAY" -window "$popup" -define png:exclude-chunks=date,time "$repo/docs/notification.png"
echo "screenshot.sh: wrote docs/notification.png ($("$im_identify" -format '%wx%h' "$repo/docs/notification.png"))" >&2
