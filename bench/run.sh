#!/usr/bin/env bash
# Runs every benchmark in one go, Wrenpost and the peer tools side by side on this machine,
# and ends with one table of medians and ratios.
#
#   bash bench/run.sh                 (BENCH_REPEATS=N for another repeat count, default 5;
#                                      BENCH_RETRIEVE_REPEATS=N for sections 4 to 6, default 3;
#                                      BENCH_SECTIONS=4,6 runs only the sections listed)
#
# 1. One message with a 10 MB body to a local smtp-sink: our driver (one SendEmailMessage,
#    console and stored copy on), msmtp and curl, interleaved round by round.
# 2. CheckBodyLines and DotStuff on a 10 MB and a 100 MB body: does the time grow linearly?
# 3. The processor time a send uses while it waits out the 20 s reply time-out of a server
#    that accepts and never answers.
# 4. 200 messages of 10 KB retrieved and deleted from a private dovecot: our driver (one
#    RetrieveMail), mpop, fetchmail and getmail, interleaved round by round.
# 5. One 5 MB and one 50 MB message retrieved by our driver: growth of the time, and the peak
#    memory above that of a retrieval from an empty mailbox; mpop beside it for the 50 MB.
# 6. The same 200 messages served to one poplib client (bench/pop3_fetch.py: RETR and DELE each,
#    then QUIT) by our POP3 server in the driver, with its 50 ms clock and with a clock of one
#    hour, and by dovecot, interleaved round by round.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
repeats=${BENCH_REPEATS:-5}
retrieve_repeats=${BENCH_RETRIEVE_REPEATS:-3}
sections=${BENCH_SECTIONS:-1,2,3,4,5,6}
build="$root/build-bench"
driver="$build/wrenpost-bench"
export QT_QPA_PLATFORM=offscreen

bash "$root/scripts/deps.sh" bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWRENPOST_TESTS=OFF -DWRENPOST_BENCH=ON >/dev/null
cmake --build "$build" --target wrenpost-bench

work=$(mktemp -d /tmp/wrenpost-bench.XXXXXX)
pids=()
dovecot_conf=""
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [[ -n $dovecot_conf ]] && stop_dovecot
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits (at most 5 s) until something listens on the loopback port.
wait_for_port() {
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    echo "run.sh: nothing listens on port $1" >&2
    return 1
}

now() { echo "${EPOCHREALTIME/,/.}"; }
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.1f", v }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# "yes" when the value is at most the limit.
within() { awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "yes" : "NO" }'; }
# The value of "key=..." in a driver's output.
field() { sed -n "s/^$1=//p" "$2" | head -n 1; }

# Whether the section was asked for. The sections' bodies are not indented under their test.
want() { [[ ,$sections, == *,$1,* ]]; }

rows=()
row() { rows+=("$(printf '%s|%s|%s|%s|%s|%s' "$@")"); }

# --- 1. A 10 MB body to smtp-sink ---------------------------------------------------------
if want 1; then
echo
echo "== 1. One message with a 10 MB body to smtp-sink, $repeats rounds =="
from=sender@example.test
to=recipient@example.test
"$driver" body $((10 * 1024 * 1024)) "$work/body.txt"
{
    printf 'From: <%s>\r\nTo: "Bench Recipient" <%s>\r\nSubject: Benchmark message\r\n' "$from" "$to"
    printf 'Date: %s\r\n\r\n' "$(LC_ALL=C date -R)"
    cat "$work/body.txt"
} >"$work/message.txt"

sink_port=$(free_port)
smtp-sink -u nobody -c "127.0.0.1:$sink_port" 256 >"$work/sink.log" 2>&1 &
pids+=($!)
wait_for_port "$sink_port"
sessions_before=$(tr '\r' '\n' <"$work/sink.log" | sed -n 's/.*mesg=\([0-9]*\).*/\1/p' | tail -n 1)

printf 'account default\nhost 127.0.0.1\nport %s\nauth off\ntls off\nfrom %s\n' "$sink_port" "$from" >"$work/msmtprc"
chmod 600 "$work/msmtprc"

run_wrenpost() {
    local out="$work/send.$1.out" start end
    start=$(now)
    "$driver" send "127.0.0.1:$sink_port" "$work/body.txt" >"$out" 2>"$work/send.$1.err"
    end=$(now)
    if [[ $(field result "$out") != sent ]]; then
        echo "run.sh: the Wrenpost send failed:" >&2
        cat "$out" "$work/send.$1.err" >&2
        exit 1
    fi
    ours_call+=("$(field send_ms "$out")")
    ours_process+=("$(elapsed_ms "$start" "$end")")
}
run_msmtp() {
    local start end
    start=$(now)
    msmtp -C "$work/msmtprc" -f "$from" "$to" <"$work/message.txt"
    end=$(now)
    msmtp_times+=("$(elapsed_ms "$start" "$end")")
}
run_curl() {
    local start end
    start=$(now)
    curl -sS "smtp://127.0.0.1:$sink_port" --mail-from "$from" --mail-rcpt "$to" -T "$work/message.txt"
    end=$(now)
    curl_times+=("$(elapsed_ms "$start" "$end")")
}

ours_call=() ours_process=() msmtp_times=() curl_times=()
tools=(run_wrenpost run_msmtp run_curl)
for round in $(seq "$repeats"); do
    # Each round starts with the next tool, so that none always goes first.
    for i in 0 1 2; do
        "${tools[(round + i) % 3]}" "$round"
    done
    printf 'round %d: wrenpost %s ms (in call) %s ms (process), msmtp %s ms, curl %s ms\n' "$round" \
        "${ours_call[-1]}" "${ours_process[-1]}" "${msmtp_times[-1]}" "${curl_times[-1]}"
done
sessions_after=$(tr '\r' '\n' <"$work/sink.log" | sed -n 's/.*mesg=\([0-9]*\).*/\1/p' | tail -n 1)
delivered=$((${sessions_after:-0} - ${sessions_before:-0}))
echo "smtp-sink counted $delivered messages (expected $((3 * repeats)))"
sed -n 's/^console_txt_bytes=/Wrenpost console.txt spill per send: /p; s/^stored_copies=/stored copies per send: /p' \
    "$work/send.1.out"
echo "Wrenpost's last send, each console write with its time from the start of the call:"
sed -n 's/^console=/  /p' "$work/send.$repeats.out"
[[ $delivered -eq $((3 * repeats)) ]] || { echo "run.sh: smtp-sink did not get every message" >&2; exit 1; }

call=$(median "${ours_call[@]}")
process=$(median "${ours_process[@]}")
msmtp_ms=$(median "${msmtp_times[@]}")
curl_ms=$(median "${curl_times[@]}")
row "send 10 MB, ms: in call / msmtp" "$(ms "$call")" "$msmtp_ms" "$(ratio "$call" "$msmtp_ms")" "<= 1.2" \
    "$(within "$(ratio "$call" "$msmtp_ms")" 1.2)"
row "send 10 MB, ms: in call / curl" "$(ms "$call")" "$curl_ms" "$(ratio "$call" "$curl_ms")" "-" "-"
row "send 10 MB, ms: process / msmtp" "$process" "$msmtp_ms" "$(ratio "$process" "$msmtp_ms")" "-" "-"
row "send 10 MB, ms: process / curl" "$process" "$curl_ms" "$(ratio "$process" "$curl_ms")" "-" "-"
fi

# --- 2. Message text helpers: 10 MB and 100 MB ------------------------------------------
if want 2; then
echo
echo "== 2. CheckBodyLines and DotStuff on 10 MB and 100 MB, median of $repeats =="
# glibc serves a 10 MB buffer from memory it already holds once one has been freed, but maps
# fresh pages for every buffer over 32 MB, whose first touch costs a page fault per 4 KB. The
# like-for-like measure fixes the mapping threshold at 1 MB, so that every buffer of both
# sizes starts on fresh pages; the default allocator's figures are shown beside it.
for variant in default fresh; do
    tunables="" label="default malloc"
    [[ $variant == fresh ]] && tunables=glibc.malloc.mmap_threshold=1048576 label="fresh pages"
    for size in 10 100; do
        GLIBC_TUNABLES=$tunables "$driver" text $((size * 1024 * 1024)) "$repeats" >"$work/text.$variant.$size.out"
        printf '%-14s %3d MB: CheckBodyLines %9s ms, DotStuff %9s ms (%s bytes in, %s after stuffing)\n' \
            "$label" "$size" "$(field check_ms "$work/text.$variant.$size.out")" \
            "$(field stuff_ms "$work/text.$variant.$size.out")" "$(field body_bytes "$work/text.$variant.$size.out")" \
            "$(field stuffed_bytes "$work/text.$variant.$size.out")"
    done
done
for variant in fresh default; do
    for step in check:CheckBodyLines stuff:DotStuff; do
        key=${step%%:*}_ms
        small=$(field "$key" "$work/text.$variant.10.out")
        large=$(field "$key" "$work/text.$variant.100.out")
        growth=$(ratio "$large" "$small")
        if [[ $variant == fresh ]]; then
            row "${step#*:}, ms: 100 MB / 10 MB" "$(ms "$large")" "$(ms "$small")" "$growth" "~10 (<= 12.5)" \
                "$(within "$growth" 12.5)"
        else
            row "${step#*:}, ms: 100 / 10 MB, default malloc" "$(ms "$large")" "$(ms "$small")" "$growth" "-" "-"
        fi
    done
done
fi

# --- 3. Processor time while waiting out the reply time-out ----------------------------
if want 3; then
echo
echo "== 3. A send to a server that never answers (20 s reply time-out) =="
# Listens on a free port (written to silent.port once listening), accepts one connection and
# reads until the client closes it; gives up after 60 s in any case.
python3 -c '
import os, socket, sys
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(("127.0.0.1", 0))
server.listen(1)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.getsockname()[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.settimeout(60)
connection, _ = server.accept()
connection.settimeout(60)
while connection.recv(4096):
    pass
' "$work/silent.port" &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/silent.port ]] && break; sleep 0.1; done
silent_port=$(cat "$work/silent.port")
"$driver" body 1000 "$work/small.txt"
/usr/bin/time -f '%e %U %S' -o "$work/silent.time" \
    "$driver" send "127.0.0.1:$silent_port" "$work/small.txt" >"$work/silent.out" 2>"$work/silent.err"
read -r silent_wall silent_user silent_sys <"$work/silent.time"
silent_cpu=$(field cpu_s "$work/silent.out")
echo "result: $(field result "$work/silent.out"); the console:"
sed -n 's/^console=/  /p' "$work/silent.out"
echo "in the call: $(field send_ms "$work/silent.out") ms wall, ${silent_cpu} s user+system" \
    "(reply_wait_ms=$(field reply_wait_ms "$work/silent.out"))"
echo "whole process: ${silent_wall} s wall, ${silent_user} s user + ${silent_sys} s system"
if [[ $(field result "$work/silent.out") != failed ]] || ! grep -q Timeout "$work/silent.out"; then
    echo "run.sh: the send to the silent server did not end with the reply time-out" >&2
    exit 1
fi
row "20 s reply wait, CPU s: in call" "$silent_cpu" "-" "-" "<= 0.5" "$(within "$silent_cpu" 0.5)"
row "20 s reply wait, CPU s: process" \
    "$(awk -v u="$silent_user" -v s="$silent_sys" 'BEGIN { printf "%.2f", u + s }')" "-" "-" "-" "-"
fi

# --- 4. 200 messages of 10 KB from dovecot ------------------------------------------------
# The private dovecot, the messages and the runners serve sections 5 and 6 too.
if want 4 || want 5 || want 6; then
echo
if want 4; then
    echo "== 4. 200 messages of 10 KB retrieved and deleted from dovecot, $retrieve_repeats rounds =="
else
    echo "== A private dovecot and 200 messages of 10 KB, for the sections $sections =="
fi
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# The mail user's home and the tools' folders lie inside $work, which mktemp made 0700.
chmod 755 "$work"
pop_user=bench pop_password=bench-secret
mail_uid=$(id -u nobody) mail_gid=$(id -g nobody)
mailbox="$work/dovecot/home/Maildir"

# A private dovecot that serves POP3 only, on a free loopback port, from nobody's Maildir.
start_dovecot() {
    local dir="$work/dovecot"
    mkdir -p "$dir/run" "$dir/state" "$mailbox/new" "$mailbox/cur" "$mailbox/tmp"
    chown -R nobody: "$dir/home"
    printf '%s:{PLAIN}%s:%s:%s::%s\n' "$pop_user" "$pop_password" "$mail_uid" "$mail_gid" "$dir/home" >"$dir/users"
    pop_port=$(free_port)
    cat >"$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:~/Maildir:INDEX=MEMORY
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/users
}
userdb {
  driver = passwd-file
  args = $dir/users
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop_port
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
CONF
    dovecot_conf="$dir/dovecot.conf"
    dovecot -c "$dovecot_conf"
    wait_for_port "$pop_port"
}

stop_dovecot() {
    local pid_file="$work/dovecot/run/master.pid" pid=""
    [[ -s $pid_file ]] && pid=$(cat "$pid_file")
    doveadm -c "$dovecot_conf" stop 2>/dev/null || { [[ -n $pid ]] && kill "$pid" 2>/dev/null; } || true
    # The master goes away within a moment; wait for it (at most 5 s) so $work can go.
    for _ in $(seq 50); do
        [[ -z $pid ]] || ! kill -0 "$pid" 2>/dev/null && break
        sleep 0.1
    done
    dovecot_conf=""
}

# Puts the named message files into the mailbox as new mail of the mail user, under names no
# earlier fill used.
fills=0
fill_mailbox() {
    fills=$((fills + 1))
    if [[ $# -gt 0 ]]; then
        python3 -c '
import os, shutil, sys
folder, fill, uid, gid = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
for n, source in enumerate(sys.argv[5:], 1):
    target = f"{folder}/17000{fill:0>5}.M{n}P1.bench"
    shutil.copyfile(source, target)
    os.chown(target, uid, gid)
' "$mailbox/new" "$fills" "$mail_uid" "$mail_gid" "$@"
    fi
    # Written out now, so that no tool's first fsync has to write the fill (or earlier runs' files).
    sync
}

mailbox_count() { find "$mailbox/new" "$mailbox/cur" -type f | wc -l; }

# Files in a folder (and its new/ and cur/ for a Maildir), hidden ones included.
files_in() { find "$1" -type f ! -path "$1/tmp/*" | wc -l; }

# Fails unless the tool took every message off the server and left one file per message.
check_delivery() {
    local tool=$1 expected=$2 folder=$3 left arrived
    left=$(mailbox_count)
    arrived=$(files_in "$folder")
    if [[ $left -ne 0 || $arrived -ne $expected ]]; then
        echo "run.sh: $tool left $left messages on the server and delivered $arrived files (expected $expected)" >&2
        exit 1
    fi
}

start_dovecot
echo "dovecot $(dovecot --version | cut -d' ' -f1) on 127.0.0.1:$pop_port"

mkdir -p "$work/messages"
"$driver" body 10000 "$work/body10k.txt"
# 200 messages of the same body, each with headers of its own.
python3 -c '
import sys
from email.utils import formatdate
folder, user, body = sys.argv[1], sys.argv[2], open(sys.argv[3], "rb").read()
for i in range(1, 201):
    head = (f"From: <sender{i}@example.test>\r\nTo: <{user}@example.test>\r\n"
            f"Subject: Retrieval benchmark message {i}\r\nMessage-ID: <{i}.bench@example.test>\r\n"
            f"Date: {formatdate(localtime=True)}\r\n\r\n")
    with open(f"{folder}/{i:03d}.eml", "wb") as f:
        f.write(head.encode() + body)
' "$work/messages" "$pop_user" "$work/body10k.txt"
small_messages=("$work/messages/"*.eml)
small_bytes=$(cat "${small_messages[@]}" | wc -c)
echo "${#small_messages[@]} messages, $small_bytes bytes in all"

# mpop: one maildir delivery per message, the list of UIDs it keeps in $work.
printf 'account default\nhost 127.0.0.1\nport %s\ntls off\nauth user\nuser %s\npassword %s\n' \
    "$pop_port" "$pop_user" "$pop_password" >"$work/mpoprc"
printf 'delivery maildir %s\nkeep off\nuidls_file %s\n' "$work/mpop.box" "$work/mpop.uidls" >>"$work/mpoprc"
chmod 600 "$work/mpoprc"
# fetchmail: an MDA that writes each message to a file of its own.
mkdir -m 700 "$work/fetchmail.home"
cat >"$work/fetchmailrc" <<RC
set no bouncemail
poll 127.0.0.1 with proto POP3 service $pop_port auth password
  user "$pop_user" there with password "$pop_password"
  options fetchall no keep
  sslproto ''
  mda "cat > \$(mktemp $work/fetchmail.box/m.XXXXXX)"
RC
chmod 600 "$work/fetchmailrc"
# getmail refuses to deliver as root: it runs as nobody, into a Maildir of nobody's.
mkdir -p "$work/getmail.home"
cat >"$work/getmail.home/getmailrc" <<RC
[retriever]
type = SimplePOP3Retriever
server = 127.0.0.1
port = $pop_port
username = $pop_user
password = $pop_password
timeout = 30

[destination]
type = Maildir
path = $work/getmail.box/

[options]
delete = true
read_all = true
verbose = 0
RC
chmod 600 "$work/getmail.home/getmailrc"
# getmail forks a child for every delivery and learns of its end from a SIGCHLD handler that
# notifies a condition variable; the handler is installed only after the fork and may notify
# before anyone waits, so on a busy machine a quick child goes unnoticed and getmail waits out
# its time-out and gives up (a known race). getmail runs through this wrapper, which waits for
# each child with a plain waitpid instead; everything else is getmail's own code.
getmail_with_waitpid='
import os, runpy, sys
from argparse import Namespace
try:
    from getmailcore import baseclasses
except ImportError:
    baseclasses = None

def forkchild(self, childfun, with_out=True):
    self.child = child = Namespace()
    child.stdout = baseclasses.TemporaryFile23()
    child.stderr = baseclasses.TemporaryFile23()
    child.childpid = os.fork()
    if child.childpid == 0:
        childfun(child.stdout, child.stderr)
        os._exit(127)
    _, status = os.waitpid(child.childpid, 0)
    if not os.WIFEXITED(status):
        raise baseclasses.getmailOperationError("child pid %d did not exit (status %d)" % (child.childpid, status))
    child.exitcode = os.WEXITSTATUS(status)
    child.stderr.seek(0)
    child.err = child.stderr.read().strip().decode()
    child.stdout.seek(0)
    if with_out:
        child.out = child.stdout.read().strip()
    return child

if baseclasses and all(hasattr(baseclasses, name) for name in ("ForkingBase", "TemporaryFile23", "getmailOperationError")):
    baseclasses.ForkingBase.forkchild = forkchild
else:
    print("run.sh: getmail runs without the waitpid wrapper", file=sys.stderr)
sys.argv[0] = "/usr/bin/getmail"
runpy.run_path(sys.argv[0], run_name="__main__")
'

# A fresh Maildir (new, cur, tmp) owned by the given user.
fresh_maildir() {
    rm -rf "$1"
    mkdir -p "$1/new" "$1/cur" "$1/tmp"
    chown -R "$2" "$1"
}

# Each runner refills the mailbox with the named files, retrieves into a fresh folder, checks
# the delivery and appends its wall time in ms to the array named by the first argument.
retrieve_ours() {
    local -n ours_times_ref=$1 ours_process_ref=$2
    shift 2
    local out="$work/retrieve.out" start end
    rm -rf "$work/ours.box"
    mkdir -p "$work/ours.box"
    fill_mailbox "$@"
    start=$(now)
    "$driver" retrieve "127.0.0.1:$pop_port" "$pop_user" "$pop_password" "$work/ours.box" >"$out" 2>"$work/retrieve.err"
    end=$(now)
    if [[ $(field result "$out") != retrieved ]]; then
        echo "run.sh: the Wrenpost retrieval failed:" >&2
        cat "$out" "$work/retrieve.err" >&2
        exit 1
    fi
    check_delivery wrenpost $# "$work/ours.box"
    ours_times_ref+=("$(field retrieve_ms "$out")")
    ours_process_ref+=("$(elapsed_ms "$start" "$end")")
}
retrieve_mpop() {
    local -n times=$1
    shift
    local start end
    fresh_maildir "$work/mpop.box" root
    fill_mailbox "$@"
    start=$(now)
    mpop -q -C "$work/mpoprc" -a
    end=$(now)
    check_delivery mpop $# "$work/mpop.box"
    times+=("$(elapsed_ms "$start" "$end")")
}
retrieve_fetchmail() {
    local -n times=$1
    shift
    local start end
    rm -rf "$work/fetchmail.box"
    mkdir -p "$work/fetchmail.box"
    fill_mailbox "$@"
    start=$(now)
    FETCHMAILHOME="$work/fetchmail.home" fetchmail -N -s -f "$work/fetchmailrc" 2>"$work/fetchmail.err" ||
        { cat "$work/fetchmail.err" >&2; exit 1; }
    end=$(now)
    check_delivery fetchmail $# "$work/fetchmail.box"
    times+=("$(elapsed_ms "$start" "$end")")
}
retrieve_getmail() {
    local -n times=$1
    shift
    local start end
    fresh_maildir "$work/getmail.box" nobody:
    chown -R nobody: "$work/getmail.home"
    fill_mailbox "$@"
    start=$(now)
    runuser -u nobody -- python3 -c "$getmail_with_waitpid" \
        --getmaildir="$work/getmail.home" --rcfile=getmailrc --quiet
    end=$(now)
    check_delivery getmail $# "$work/getmail.box"
    times+=("$(elapsed_ms "$start" "$end")")
}

fi

if want 4; then
ours_retrieve=() ours_retrieve_process=() mpop_retrieve=() fetchmail_retrieve=() getmail_retrieve=()
for round in $(seq "$retrieve_repeats"); do
    for i in 0 1 2 3; do
        case $(((round + i) % 4)) in
            0) retrieve_ours ours_retrieve ours_retrieve_process "${small_messages[@]}" ;;
            1) retrieve_mpop mpop_retrieve "${small_messages[@]}" ;;
            2) retrieve_fetchmail fetchmail_retrieve "${small_messages[@]}" ;;
            3) retrieve_getmail getmail_retrieve "${small_messages[@]}" ;;
        esac
    done
    printf 'round %d: wrenpost %s ms (in call) %s ms (process), mpop %s ms, fetchmail %s ms, getmail %s ms\n' "$round" \
        "${ours_retrieve[-1]}" "${ours_retrieve_process[-1]}" "${mpop_retrieve[-1]}" "${fetchmail_retrieve[-1]}" \
        "${getmail_retrieve[-1]}"
done
stored_bytes=$(field file_bytes "$work/retrieve.out")
echo "Wrenpost's last run: $(field files "$work/retrieve.out") files, $stored_bytes bytes" \
    "(the messages plus the 3-byte terminating line each), $(field beeps "$work/retrieve.out") beeps," \
    "$(field cpu_s "$work/retrieve.out") s user+system in the call, console.txt $(field console_txt_bytes "$work/retrieve.out") bytes"
if [[ $stored_bytes -ne $((small_bytes + 3 * ${#small_messages[@]})) ]]; then
    echo "run.sh: Wrenpost stored $stored_bytes bytes, expected $((small_bytes + 3 * ${#small_messages[@]}))" >&2
    exit 1
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

ours_ms=$(median "${ours_retrieve[@]}")
ours_process_ms=$(median "${ours_retrieve_process[@]}")
mpop_ms=$(median "${mpop_retrieve[@]}")
row "retrieve 200 x 10 KB, ms: in call / mpop" "$(ms "$ours_ms")" "$mpop_ms" "$(ratio "$ours_ms" "$mpop_ms")" "<= 1.5" \
    "$(within "$(ratio "$ours_ms" "$mpop_ms")" 1.5)"
row "retrieve 200 x 10 KB, ms: process / mpop" "$ours_process_ms" "$mpop_ms" "$(ratio "$ours_process_ms" "$mpop_ms")" "-" "-"
for tool in fetchmail getmail; do
    declare -n peer_times=${tool}_retrieve
    peer_ms=$(median "${peer_times[@]}")
    row "retrieve 200 x 10 KB, ms: in call / $tool" "$(ms "$ours_ms")" "$peer_ms" "$(ratio "$ours_ms" "$peer_ms")" "-" "-"
    unset -n peer_times
done
fi

# --- 5. One 50 MB and one 5 MB message --------------------------------------------------
if want 5; then
echo
echo "== 5. One 5 MB and one 50 MB message, and an empty mailbox, $retrieve_repeats runs each =="
for size in 5 50; do
    "$driver" body $((size * 1024 * 1024)) "$work/body.$size.txt"
    {
        printf 'From: <sender@example.test>\r\nTo: <%s@example.test>\r\n' "$pop_user"
        printf 'Subject: A %d MB message\r\nDate: %s\r\n\r\n' "$size" "$(LC_ALL=C date -R)"
        cat "$work/body.$size.txt"
    } >"$work/large.$size.eml"
    rm "$work/body.$size.txt"
done

# Our driver on the named files (none: an empty mailbox); appends the time and the peak RSS.
retrieve_large() {
    local -n large_peaks_ref=$2
    local large_times_name=$1 ignored=()
    shift 2
    retrieve_ours "$large_times_name" ignored "$@"
    large_peaks_ref+=("$(field peak_rss_kb "$work/retrieve.out")")
    if [[ $# -eq 1 ]] && ! cmp -s <(cat "$1"; printf '.\r\n') "$work/ours.box/"*; then
        echo "run.sh: the stored message differs from $1 (plus its terminating line)" >&2
        exit 1
    fi
}
empty_ms=() empty_peak=() ms5=() peak5=() ms50=() peak50=() mpop50=() mpop50_peak=()
for run in $(seq "$retrieve_repeats"); do
    retrieve_large empty_ms empty_peak
    retrieve_large ms5 peak5 "$work/large.5.eml"
    retrieve_large ms50 peak50 "$work/large.50.eml"
    fresh_maildir "$work/mpop.box" root
    fill_mailbox "$work/large.50.eml"
    /usr/bin/time -f '%e %M' -o "$work/mpop.time" mpop -q -C "$work/mpoprc" -a
    check_delivery mpop 1 "$work/mpop.box"
    read -r mpop_wall mpop_peak <"$work/mpop.time"
    mpop50+=("$(awk -v s="$mpop_wall" 'BEGIN { printf "%.1f", s * 1000 }')")
    mpop50_peak+=("$mpop_peak")
    printf 'run %d: empty %s ms %s KB peak; 5 MB %s ms %s KB; 50 MB %s ms %s KB; mpop 50 MB %s ms %s KB\n' "$run" \
        "${empty_ms[-1]}" "${empty_peak[-1]}" "${ms5[-1]}" "${peak5[-1]}" "${ms50[-1]}" "${peak50[-1]}" \
        "${mpop50[-1]}" "${mpop_peak}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

large_ms=$(median "${ms50[@]}")
small_ms=$(median "${ms5[@]}")
growth=$(ratio "$large_ms" "$small_ms")
row "retrieve one message, ms: 50 MB / 5 MB" "$(ms "$large_ms")" "$(ms "$small_ms")" "$growth" "~10 (<= 12.5)" \
    "$(within "$growth" 12.5)"
large_bytes=$(wc -c <"$work/large.50.eml")
baseline_kb=$(median "${empty_peak[@]}")
over_mb=$(awk -v p="$(median "${peak50[@]}")" -v b="$baseline_kb" 'BEGIN { printf "%.1f", (p - b) / 1024 }')
size_mb=$(awk -v b="$large_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "peak RSS: empty mailbox $baseline_kb KB, 5 MB $(median "${peak5[@]}") KB, 50 MB $(median "${peak50[@]}") KB"
row "retrieve 50 MB, MB: peak RSS - empty / size" "$over_mb" "$size_mb" "$(ratio "$over_mb" "$size_mb")" "< 3" \
    "$(awk -v r="$(ratio "$over_mb" "$size_mb")" 'BEGIN { print (r < 3) ? "yes" : "NO" }')"
mpop_large_ms=$(median "${mpop50[@]}")
row "retrieve 50 MB, ms: in call / mpop" "$(ms "$large_ms")" "$mpop_large_ms" "$(ratio "$large_ms" "$mpop_large_ms")" "-" "-"
row "retrieve 50 MB, peak RSS MB: process / mpop" \
    "$(awk -v k="$(median "${peak50[@]}")" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(awk -v k="$(median "${mpop50_peak[@]}")" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(ratio "$(median "${peak50[@]}")" "$(median "${mpop50_peak[@]}")")" "-" "-"
fi

# --- 6. Our POP3 server beside dovecot ----------------------------------------------------
if want 6; then
echo
echo "== 6. 200 messages of 10 KB served to one poplib client (RETR and DELE each, QUIT), $retrieve_repeats rounds =="
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# The interpreter itself, not a version manager's wrapper script, so that the process times
# hold Python's start and nothing else besides the session.
python=$(python3 -c 'import sys; print(sys.executable)')
fetch="$root/bench/pop3_fetch.py"
# The server's clock as built; the second server's clock ticks once an hour, so that only the
# steps the server queues at once (on socket events and after steps that leave work) can
# carry its sessions.
tick_ms=50 hour_ms=3600000

# Our server in the driver, serving FOLDER=$work/serve.NAME until the FIFO on its stdin closes:
# this script holds the FIFO's writing end open in serve_fd[NAME].
declare -A serve_pid serve_fd serve_port
start_ours_server() {
    local name=$1 clock_ms=$2 fd port=""
    mkfifo "$work/serve.$name.in"
    # A server started later must not hold the FIFOs of the earlier ones open.
    (
        for fd in "${serve_fd[@]}"; do exec {fd}>&-; done
        exec "$driver" serve "$work/serve.$name" "$pop_user" "$pop_password" 0 "$clock_ms" \
            <"$work/serve.$name.in" >"$work/serve.$name.out" 2>"$work/serve.$name.err"
    ) &
    serve_pid[$name]=$!
    pids+=($!)
    exec {fd}>"$work/serve.$name.in"
    serve_fd[$name]=$fd
    for _ in $(seq 50); do
        port=$(field port "$work/serve.$name.out")
        [[ -n $port ]] && break
        sleep 0.1
    done
    if [[ -z $port ]]; then
        echo "run.sh: our POP3 server ($name) did not start listening:" >&2
        cat "$work/serve.$name.out" "$work/serve.$name.err" >&2
        exit 1
    fi
    serve_port[$name]=$port
}
stop_ours_server() {
    local name=$1 fd=${serve_fd[$1]}
    exec {fd}>&-
    wait "${serve_pid[$name]}"
    if [[ $(field result "$work/serve.$name.out") != stopped ]]; then
        echo "run.sh: our POP3 server ($name) did not stop cleanly:" >&2
        cat "$work/serve.$name.out" "$work/serve.$name.err" >&2
        exit 1
    fi
}

# One session of the client against the port; appends the session's time (connect to QUIT's
# reply) and the client process's time, in ms, to the arrays named.
fetch_all() {
    local label=$1 port=$2
    local -n session_ref=$3 process_ref=$4
    local out="$work/fetch.$label.out" start end
    start=$(now)
    "$python" "$fetch" 127.0.0.1 "$port" "$pop_user" "$pop_password" "$work/messages" >"$out" 2>"$work/fetch.$label.err" || {
        echo "run.sh: the poplib client failed against $label:" >&2
        cat "$out" "$work/fetch.$label.err" >&2
        exit 1
    }
    end=$(now)
    if [[ $(field messages "$out") -ne ${#small_messages[@]} ]]; then
        echo "run.sh: the poplib client got $(field messages "$out") messages from $label" >&2
        exit 1
    fi
    session_ref+=("$(field session_ms "$out")")
    process_ref+=("$(elapsed_ms "$start" "$end")")
}

# Our server: the mailbox refilled, the deleted messages' folder emptied (untimed), one
# session, then every message must have moved into the deleted messages' folder.
serve_ours() {
    local name=$1 mail="$work/serve.$1/MailFolder" left moved
    find "$mail/Deleted_Messages" -type f -delete
    cp "${small_messages[@]}" "$mail/POP3MailBox/"
    sync
    fetch_all "$name" "${serve_port[$name]}" "$2" "$3"
    left=$(files_in "$mail/POP3MailBox")
    moved=$(files_in "$mail/Deleted_Messages")
    if [[ $left -ne 0 || $moved -ne ${#small_messages[@]} ]]; then
        echo "run.sh: our server ($name) left $left messages and moved $moved (expected ${#small_messages[@]})" >&2
        exit 1
    fi
}
serve_dovecot() {
    local left
    fill_mailbox "${small_messages[@]}"
    fetch_all dovecot "$pop_port" "$1" "$2"
    left=$(mailbox_count)
    if [[ $left -ne 0 ]]; then
        echo "run.sh: dovecot kept $left messages after the session" >&2
        exit 1
    fi
}

start_ours_server tick "$tick_ms"
start_ours_server hour "$hour_ms"
echo "our server on 127.0.0.1:${serve_port[tick]} (${tick_ms} ms clock) and 127.0.0.1:${serve_port[hour]}" \
    "(${hour_ms} ms clock), dovecot on 127.0.0.1:$pop_port"
tick_session=() tick_process=() hour_session=() hour_process=() dovecot_session=() dovecot_process=()
for round in $(seq "$retrieve_repeats"); do
    for i in 0 1 2; do
        case $(((round + i) % 3)) in
            0) serve_ours tick tick_session tick_process ;;
            1) serve_ours hour hour_session hour_process ;;
            2) serve_dovecot dovecot_session dovecot_process ;;
        esac
    done
    printf 'round %d: ours, %s ms clock %s ms (session) %s ms (client process); ours, %s ms clock %s ms (%s ms);' \
        "$round" "$tick_ms" "${tick_session[-1]}" "${tick_process[-1]}" "$hour_ms" "${hour_session[-1]}" "${hour_process[-1]}"
    printf ' dovecot %s ms (%s ms)\n' "${dovecot_session[-1]}" "${dovecot_process[-1]}"
done
commands=$(field commands "$work/fetch.dovecot.out")
stop_ours_server tick
stop_ours_server hour
for name in tick hour; do
    echo "our server ($name): each session from the accepted connection to the step that prepares for the next:"
    sed -n 's/^session_ms=/  /p' "$work/serve.$name.out"
    echo "  console.txt $(field console_txt_bytes "$work/serve.$name.out") bytes in all," \
        "$(field cpu_s "$work/serve.$name.out") s user+system in all"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

tick_median=$(ms "$(median "${tick_session[@]}")")
hour_median=$(ms "$(median "${hour_session[@]}")")
dovecot_median=$(ms "$(median "${dovecot_session[@]}")")
tick_process_median=$(median "${tick_process[@]}")
dovecot_process_median=$(median "${dovecot_process[@]}")
# Paced by its clock alone, the server would take one step per tick: one per command line,
# and the greeting, the update, the close and the preparation for the next client.
paced_ms=$(((commands + 4) * tick_ms))
row "serve 200 x 10 KB, ms: session / dovecot" "$tick_median" "$dovecot_median" \
    "$(ratio "$tick_median" "$dovecot_median")" "<= 2" "$(within "$(ratio "$tick_median" "$dovecot_median")" 2)"
row "serve 200 x 10 KB, ms: client process / dovecot" "$tick_process_median" "$dovecot_process_median" \
    "$(ratio "$tick_process_median" "$dovecot_process_median")" "-" "-"
row "serve 200 x 10 KB, ms: 1 h clock / dovecot" "$hour_median" "$dovecot_median" \
    "$(ratio "$hour_median" "$dovecot_median")" "<= 2" "$(within "$(ratio "$hour_median" "$dovecot_median")" 2)"
row "serve, ms: 1 h clock / clock alone, ($commands commands + 4) x $tick_ms ms" "$hour_median" "$paced_ms" \
    "$(ratio "$hour_median" "$paced_ms")" "-" "-"
fi

[[ -z $dovecot_conf ]] || stop_dovecot

# --- Summary ----------------------------------------------------------------------------
echo
echo "== Summary =="
echo "Medians of $repeats runs (the reply wait: one run). The send target uses the time measured inside"
echo "the driver, from just before SendEmailMessage to its return; 'process' is the driver's whole run."
echo "For the text rows the wrenpost column holds the 100 MB time, the peer column the 10 MB time."
echo "Retrieval rows: medians of $retrieve_repeats runs; 'in call' is from just before RetrieveMail to its return,"
echo "the peers' times are their whole runs. The 50 MB / 5 MB row holds both of our times; the memory row"
echo "the 50 MB run's peak RSS minus the empty mailbox run's, beside the message size (MB = 2^20 bytes)."
echo "Serve rows: medians of $retrieve_repeats runs of the same poplib client; 'session' is from before its connect to"
echo "QUIT's reply, 'client process' its whole run. '1 h clock' is our server with its clock ticking once an"
echo "hour; 'by the clock alone' is what a session would take at one step per tick of the 50 ms clock."
{
    echo "benchmark|wrenpost|peer|ratio|target|met"
    printf '%s\n' "${rows[@]}"
} | awk -F'|' '
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > width[i]) width[i] = length($i) } }
    END {
        for (r = 1; r <= NR; r++) {
            line = ""
            for (i = 1; i <= 6; i++) line = line (i > 1 ? " | " : "") sprintf("%-" width[i] "s", cell[r, i])
            print line
        }
    }'
