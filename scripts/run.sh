#!/usr/bin/env bash
# Builds Wrenpost (Release, in build/) and starts it. build/ is its application folder:
# preferences.txt, console.txt and MailFolder/ live there.
# Without a display it runs under a virtual X server, so the interval retrieve and the
# local POP3 server keep working; that needs a complete receive account in preferences.txt.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
wrenpost_deps run

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2 --target wrenpost wrenpost-prefcheck

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    exec build/wrenpost
fi

prefcheck=0
build/wrenpost-prefcheck build || prefcheck=$?
if [[ $prefcheck -eq 1 ]]; then
    cat >&2 <<'EOF'
run.sh: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), and
build/preferences.txt holds no complete receive account, so Wrenpost would open its
account window where nobody can see it. Either:

  - run scripts/run.sh once with a display and fill in the account window, or
  - put these lines into build/preferences.txt (your own values; CR LF line ends;
    give the file mode 600, readable by you alone, since it holds a password):

      user=joe
      send user=joe
      password=secret
      save_password=Y
      server=127.0.0.1:1110
      save_send_password=N
      send server=127.0.0.1:2525
      retrieve interval=0
      POP3User=
      POP3UserSavePassword=
      POP3UserFolder=
      POP3RunsAtStartup=N
      POP3_delete_message_if_client_requested=

    For example:
      (umask 077 && printf '%s\r\n' 'user=joe' 'send user=joe' 'password=secret' 'save_password=Y' \
        'server=127.0.0.1:1110' 'save_send_password=N' 'send server=127.0.0.1:2525' \
        'retrieve interval=0' 'POP3User=' 'POP3UserSavePassword=' 'POP3UserFolder=' \
        'POP3RunsAtStartup=N' 'POP3_delete_message_if_client_requested=' \
        > build/preferences.txt)
      chmod 600 build/preferences.txt
EOF
    exit 1
elif [[ $prefcheck -ne 0 ]]; then
    echo "run.sh: build/wrenpost-prefcheck failed (exit status $prefcheck)" >&2
    exit "$prefcheck"
fi

echo "run.sh: no display; running Wrenpost under xvfb-run (invisible, stop it with Ctrl+C)" >&2
exec xvfb-run -a -s '-screen 0 1024x768x24' build/wrenpost
