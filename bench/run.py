#!/usr/bin/python3
"""Runs every benchmark in one go, Wrenpost and the peer tools side by side on this machine,
and ends with one table of medians and ratios.

    bash bench/run.sh             installs the tools, builds the Release driver, then runs this
    /usr/bin/python3 bench/run.py [--driver PATH]
                                  the driver from --driver, else $WRENPOST_BENCH_DRIVER, else
                                  build-bench/wrenpost-bench

BENCH_REPEATS=N sets the rounds of sections 1 and 2 (default 5), BENCH_RETRIEVE_REPEATS=N those
of sections 4 to 6 (default 3); BENCH_SECTIONS=4,6 runs only the sections listed.

1. One message with a 10 MB body to a local smtp-sink: our driver (one SendEmailMessage,
   console and stored copy on), msmtp and curl, interleaved round by round.
2. CheckBodyLines and DotStuff on a 10 MB and a 100 MB body: does the time grow linearly?
3. The processor time a send uses while it waits out the 20 s reply time-out of a server
   that accepts and never answers.
4. 200 messages of 10 KB retrieved and deleted from a private dovecot: our driver (one
   RetrieveMail), mpop, fetchmail and getmail, interleaved round by round.
5. One 5 MB and one 50 MB message retrieved by our driver: growth of the time, and the peak
   memory above that of a retrieval from an empty mailbox; mpop beside it for the 50 MB.
6. The same 200 messages served to one poplib client (bench/pop3_fetch.py: RETR and DELE each,
   then QUIT) by our POP3 server in the driver, with its 50 ms clock and with a clock of one
   hour, and by dovecot, interleaved round by round.

Standard library only: Debian's python3 runs it, whatever python3 comes first on PATH (and
make_certificates.py needs Debian's python3-cryptography).
"""

import argparse
import collections
import contextlib
import email.utils
import functools
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import NamedTuple

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
DOVECOT_TEMPLATE = ROOT / "tests/peers/dovecot.conf.in"
MAKE_CERTIFICATES = ROOT / "tests/peers/make_certificates.py"
POP3_FETCH = BENCH_DIR / "pop3_fetch.py"
GETMAIL_WRAPPER = BENCH_DIR / "getmail_waitpid.py"
# getmail is a Debian package: its modules are there for Debian's interpreter only.
DEBIAN_PYTHON = "/usr/bin/python3"
MB = 1024 * 1024
SECTIONS = range(1, 7)


class BenchFailure(Exception):
    """A tool did not do its job, or what the benchmarks stand on broke: the run stops."""


# --- Small helpers ----------------------------------------------------------------------


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process=None, seconds=5):
    """Returns once something listens on the loopback port; fails after the time given, or
    as soon as the process that should listen has ended."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            pass
        if process is not None and process.poll() is not None:
            raise BenchFailure(f"{process.args[0]} ended with {process.returncode} before listening on port {port}")
        if time.monotonic() > deadline:
            raise BenchFailure(f"nothing listens on port {port}")
        time.sleep(0.1)


def median(values):
    """The middle value; of an even count the lower of the two middle ones."""
    values = sorted(values)
    return values[(len(values) - 1) // 2]


def ratio(a, b):
    return a / b if b else float("inf")


def at_most(limit, label=None):
    return (label or f"<= {limit:g}", lambda value: value <= limit)


def below(limit):
    return (f"< {limit:g}", lambda value: value < limit)


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def heading(text):
    print(f"\n== {text} ==", flush=True)


def rfc2822_now():
    return email.utils.formatdate(localtime=True)


def write_message(path, head, body):
    """A message file: the head, then the body file's bytes, copied a piece at a time. The
    processes started from here count this interpreter's peak memory in theirs, so it stays small."""
    with open(path, "wb") as message, open(body, "rb") as source:
        message.write(head.encode())
        shutil.copyfileobj(source, message, MB)


def files_in(folder):
    """Files in a folder and below, hidden ones included, but not those of its tmp/ (a Maildir's)."""
    folder = Path(folder)
    return sum(len(names) for path, _, names in os.walk(folder) if not Path(path).is_relative_to(folder / "tmp"))


def chown_tree(folder, user):
    for path, _, names in os.walk(folder):
        os.chown(path, user.pw_uid, user.pw_gid)
        for name in names:
            os.chown(os.path.join(path, name), user.pw_uid, user.pw_gid)


def fresh_folder(folder, subfolders=(), owner=None):
    """An empty folder (with the subfolders named, e.g. a Maildir's), owned by the user given."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name in subfolders:
        (folder / name).mkdir()
    if owner is not None:
        chown_tree(folder, owner)
    return folder


def write_private(path, text):
    """A file only its owner may read: the tools refuse configurations with passwords otherwise."""
    path.write_text(text)
    path.chmod(0o600)
    return path


def interleave(rounds, runners, report):
    """Runs every runner once a round, each round starting with the next one so that none
    always goes first; then reports the round."""
    for round_ in range(1, rounds + 1):
        for i in range(len(runners)):
            runners[(round_ + i) % len(runners)](round_)
        report(round_)


class Timed(NamedTuple):
    """A finished process: its wall time from start to end and the resources it used."""

    returncode: int
    ms: float
    user_s: float
    system_s: float
    peak_kb: int | None

    @property
    def cpu_s(self):
        return self.user_s + self.system_s


class Output:
    """What the driver or a Python client printed: "key=value" lines, and its stderr."""

    def __init__(self, text, err=""):
        self.text, self.err = text, err

    def all(self, key):
        prefix = key + "="
        return [line[len(prefix):] for line in self.text.splitlines() if line.startswith(prefix)]

    def __getitem__(self, key):
        values = self.all(key)
        return values[0] if values else ""

    def __str__(self):
        return self.text + self.err


# --- The run: its folder, its processes and its table ------------------------------------


class Bench:
    """One run of the benchmarks. Everything lands in a private temporary folder; every process
    started through it is ended, and the folder removed, by close()."""

    def __init__(self, driver, repeats, retrieve_repeats):
        self.driver = driver
        self.repeats = repeats
        self.retrieve_repeats = retrieve_repeats
        self.work = Path(tempfile.mkdtemp(prefix="wrenpost-bench."))
        self.processes = []
        self.rows = []
        os.environ["QT_QPA_PLATFORM"] = "offscreen"
        os.environ["XDG_RUNTIME_DIR"] = str(self.work / "runtime")
        (self.work / "runtime").mkdir(mode=0o700)

    def start(self, command, *, stdin=None, stdout=None, stderr=None, env=None):
        """Starts a process that close() ends if it is still running; stdout and stderr may be paths.

        Each process leads a process group of its own, so that Ctrl+C reaches this script alone
        and the clean-up ends every process in turn, with whatever each started."""
        with contextlib.ExitStack() as files:
            stdout, stderr = (files.enter_context(open(f, "wb")) if isinstance(f, Path) else f
                              for f in (stdout, stderr))
            process = subprocess.Popen([str(part) for part in command], stdin=stdin, stdout=stdout, stderr=stderr,
                                       env=env, process_group=0)
        self.processes.append(process)
        return process

    def run_timed(self, command, *, stdin=None, stdout=None, stderr=None, env=None, peak_memory=False):
        """Runs a process to its end; its wall time counts from just before the start to its
        reaping, its processor time is what the kernel reports for it.

        A process started from here inherits this interpreter's peak resident set as the floor
        of its own, well above that of a small tool; with peak_memory it runs under /usr/bin/time
        instead, which starts it from an image of a few hundred KB and reports its true peak."""
        report = self.work / "peak_kb"
        if peak_memory:
            command = ["/usr/bin/time", "-f", "%M", "-o", report, *command]
        start = time.perf_counter()
        process = self.start(command, stdin=stdin, stdout=stdout, stderr=stderr, env=env)
        _, status, usage = os.wait4(process.pid, 0)
        ms = (time.perf_counter() - start) * 1000
        process.returncode = os.waitstatus_to_exitcode(status)
        self.processes.remove(process)
        # /usr/bin/time puts a line about an unsuccessful end before the figure.
        peak_kb = int(report.read_text().split()[-1]) if peak_memory else None
        return Timed(process.returncode, ms, usage.ru_utime, usage.ru_stime, peak_kb)

    def run_tool(self, name, command, stdin_path=None, env=None, peak_memory=False):
        """A peer tool's run, which must end with status 0; its stderr is shown only on failure."""
        err = self.work / f"{name}.err"
        with open(stdin_path or os.devnull, "rb") as stdin:
            timed = self.run_timed(command, stdin=stdin, stderr=err, env=env, peak_memory=peak_memory)
        if timed.returncode != 0:
            raise BenchFailure(f"{name} ended with {timed.returncode}:\n{err.read_text(errors='replace')}")
        return timed

    def run_captured(self, name, command, env=None, peak_memory=False):
        """A run of the driver or a Python client with its output in NAME.out and NAME.err; it
        must end with status 0."""
        out, err = self.work / f"{name}.out", self.work / f"{name}.err"
        timed = self.run_timed(command, stdout=out, stderr=err, env=env, peak_memory=peak_memory)
        output = Output(out.read_text(errors="replace"), err.read_text(errors="replace"))
        if timed.returncode != 0:
            raise BenchFailure(f"{' '.join(map(str, command[:2]))} ended with {timed.returncode}:\n{output}")
        return timed, output

    def run_driver(self, name, *arguments, env=None, peak_memory=False):
        return self.run_captured(name, [self.driver, *arguments], env=env, peak_memory=peak_memory)

    @functools.cached_property
    def certificates(self):
        """The run's test certificates, made on first use: a folder with ca.pem, and server.pem and
        server.key for localhost, signed by it."""
        folder = self.work / "certificates"
        folder.mkdir()
        self.run_captured("make_certificates", [DEBIAN_PYTHON, MAKE_CERTIFICATES, folder])
        return folder

    def row(self, name, ours, peer=None, target=None, digits=1):
        """A line of the summary: our figure, the peer's and their ratio; the target applies to
        the ratio, or to our figure when there is no peer."""
        value = round(ratio(ours, peer), 2) if peer is not None else ours
        label, met = target if target else ("-", None)

        def figure(number):
            return str(number) if isinstance(number, int) else f"{number:.{digits}f}"

        self.rows.append((
            name,
            figure(ours),
            "-" if peer is None else figure(peer),
            "-" if peer is None else f"{value:.2f}",
            label,
            "-" if met is None else ("yes" if met(value) else "NO"),
        ))

    def close(self):
        for process in reversed(self.processes):
            stop_process(process)
        self.processes.clear()
        shutil.rmtree(self.work, ignore_errors=True)


def stop_process(process, seconds=10, whole_group=True):
    """Ends a process, and the rest of its process group unless told otherwise, politely (its
    stdin closed, then SIGTERM), by force if it lingers. Returns its exit status."""
    if process.stdin:
        with contextlib.suppress(OSError):
            process.stdin.close()
    for signum in (signal.SIGTERM, signal.SIGKILL):
        if process.poll() is not None:
            break
        with contextlib.suppress(ProcessLookupError):
            if whole_group:
                os.killpg(process.pid, signum)
            else:
                process.send_signal(signum)
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(seconds)
    process.wait()
    return process.returncode


# --- 1. A 10 MB body to smtp-sink ---------------------------------------------------------


def sink_messages(log):
    """The message count smtp-sink -c last wrote to its log."""
    counts = re.findall(rb"mesg=(\d+)", log.read_bytes())
    return int(counts[-1]) if counts else 0


def section_send(bench):
    heading(f"1. One message with a 10 MB body to smtp-sink, {bench.repeats} rounds")
    sender, recipient = "sender@example.test", "recipient@example.test"
    body = bench.work / "body.txt"
    bench.run_driver("body", "body", 10 * MB, body)
    message = bench.work / "message.txt"
    head = (f'From: <{sender}>\r\nTo: "Bench Recipient" <{recipient}>\r\nSubject: Benchmark message\r\n'
            f"Date: {rfc2822_now()}\r\n\r\n")
    write_message(message, head, body)

    port = free_port()
    sink_log = bench.work / "sink.log"
    sink = bench.start(["smtp-sink", "-u", "nobody", "-c", f"127.0.0.1:{port}", "256"], stdout=sink_log,
                       stderr=subprocess.STDOUT)
    wait_for_port(port, sink)
    before = sink_messages(sink_log)
    msmtprc = write_private(bench.work / "msmtprc",
                            f"account default\nhost 127.0.0.1\nport {port}\nauth off\ntls off\nfrom {sender}\n")

    times = collections.defaultdict(list)

    def wrenpost(round_):
        timed, out = bench.run_driver(f"send.{round_}", "send", f"127.0.0.1:{port}", body)
        if out["result"] != "sent":
            raise BenchFailure(f"the Wrenpost send failed:\n{out}")
        times["call"].append(float(out["send_ms"]))
        times["process"].append(timed.ms)

    def msmtp(_):
        times["msmtp"].append(bench.run_tool("msmtp", ["msmtp", "-C", msmtprc, "-f", sender, recipient], message).ms)

    def curl(_):
        command = ["curl", "-sS", f"smtp://127.0.0.1:{port}", "--mail-from", sender, "--mail-rcpt", recipient,
                   "-T", message]
        times["curl"].append(bench.run_tool("curl", command).ms)

    interleave(bench.repeats, [wrenpost, msmtp, curl], lambda round_: print(
        f"round {round_}: wrenpost {times['call'][-1]:.1f} ms (in call) {times['process'][-1]:.1f} ms (process), "
        f"msmtp {times['msmtp'][-1]:.1f} ms, curl {times['curl'][-1]:.1f} ms", flush=True))

    # smtp-sink updates its count after it has answered the message; give it a moment.
    expected = 3 * bench.repeats
    deadline = time.monotonic() + 5
    while (delivered := sink_messages(sink_log) - before) < expected and time.monotonic() < deadline:
        time.sleep(0.1)
    print(f"smtp-sink counted {delivered} messages (expected {expected})")
    first = Output((bench.work / "send.1.out").read_text())
    print(f"stored copies per send: {first['stored_copies']}")
    print(f"Wrenpost console.txt spill per send: {first['console_txt_bytes']}")
    print("Wrenpost's last send, each console write with its time from the start of the call:")
    for line in Output((bench.work / f"send.{bench.repeats}.out").read_text()).all("console"):
        print("  " + line)
    if delivered != expected:
        raise BenchFailure("smtp-sink did not get every message")
    stop_process(sink)

    call, process = median(times["call"]), median(times["process"])
    msmtp_ms, curl_ms = median(times["msmtp"]), median(times["curl"])
    bench.row("send 10 MB, ms: in call / msmtp", call, msmtp_ms, at_most(1.2))
    bench.row("send 10 MB, ms: in call / curl", call, curl_ms)
    bench.row("send 10 MB, ms: process / msmtp", process, msmtp_ms)
    bench.row("send 10 MB, ms: process / curl", process, curl_ms)


# --- 2. Message text helpers: 10 MB and 100 MB --------------------------------------------


def section_text(bench):
    heading(f"2. CheckBodyLines and DotStuff on 10 MB and 100 MB, median of {bench.repeats}")
    # glibc serves a 10 MB buffer from memory it already holds once one has been freed, but maps
    # fresh pages for every buffer over 32 MB, whose first touch costs a page fault per 4 KB. The
    # like-for-like measure fixes the mapping threshold at 1 MB, so that every buffer of both
    # sizes starts on fresh pages; the default allocator's figures are shown beside it.
    variants = {"default": ("default malloc", ""), "fresh": ("fresh pages", "glibc.malloc.mmap_threshold=1048576")}
    results = {}
    for variant, (label, tunables) in variants.items():
        env = dict(os.environ, GLIBC_TUNABLES=tunables)
        for size in (10, 100):
            _, out = bench.run_driver(f"text.{variant}.{size}", "text", size * MB, bench.repeats, env=env)
            results[variant, size] = out
            print(f"{label:<14} {size:3d} MB: CheckBodyLines {out['check_ms']:>9} ms, DotStuff {out['stuff_ms']:>9} ms "
                  f"({out['body_bytes']} bytes in, {out['stuffed_bytes']} after stuffing)", flush=True)
    for variant in ("fresh", "default"):
        for key, step in (("check_ms", "CheckBodyLines"), ("stuff_ms", "DotStuff")):
            large, small = float(results[variant, 100][key]), float(results[variant, 10][key])
            if variant == "fresh":
                bench.row(f"{step}, ms: 100 MB / 10 MB", large, small, at_most(12.5, "~10 (<= 12.5)"))
            else:
                bench.row(f"{step}, ms: 100 / 10 MB, default malloc", large, small)


# --- 3. Processor time while waiting out the reply time-out ------------------------------


@contextlib.contextmanager
def silent_server():
    """A loopback port whose server accepts one connection and reads until the client closes
    it, without a word; it gives up after 60 s in any case. Yields the port."""
    with socket.create_server(("127.0.0.1", 0)) as server:
        server.settimeout(60)

        def serve():
            with contextlib.suppress(OSError):
                connection, _ = server.accept()
                with connection:
                    connection.settimeout(60)
                    while connection.recv(4096):
                        pass

        threading.Thread(target=serve, daemon=True).start()
        yield server.getsockname()[1]


def section_reply_wait(bench):
    heading("3. A send to a server that never answers (20 s reply time-out)")
    small = bench.work / "small.txt"
    bench.run_driver("small", "body", 1000, small)
    with silent_server() as port:
        timed, out = bench.run_driver("silent", "send", f"127.0.0.1:{port}", small)
    print(f"result: {out['result']}; the console:")
    for line in out.all("console"):
        print("  " + line)
    print(f"in the call: {out['send_ms']} ms wall, {out['cpu_s']} s user+system (reply_wait_ms={out['reply_wait_ms']})")
    print(f"whole process: {timed.ms / 1000:.2f} s wall, {timed.user_s:.2f} s user + {timed.system_s:.2f} s system")
    if out["result"] != "failed" or "Timeout" not in out.text:
        raise BenchFailure(f"the send to the silent server did not end with the reply time-out:\n{out}")
    bench.row("20 s reply wait, CPU s: in call", float(out["cpu_s"]), target=at_most(0.5), digits=4)
    bench.row("20 s reply wait, CPU s: process", timed.cpu_s, digits=2)


# --- 4 to 6: a private dovecot, 200 messages and the retrieving tools -------------------


class Dovecot:
    """A private dovecot that serves POP3 only, on a free loopback port and with TLS from the first
    byte on another, from nobody's Maildir, set up as the peer tests set theirs up (the same
    configuration template)."""

    user, password = "bench", "bench-secret"

    def __init__(self, bench):
        self.bench = bench
        self.folder = bench.work / "dovecot"
        self.maildir = self.folder / "home/Maildir"
        self.owner = pwd.getpwnam("nobody")
        self.port, self.tls_port = free_port(), free_port()
        self.fills = 0
        # The mail user passes through the run's folder, which mkdtemp made 0700, to its home.
        bench.work.chmod(0o755)
        fresh_folder(self.maildir, ("new", "cur", "tmp"))
        chown_tree(self.folder / "home", self.owner)
        (self.folder / "users").write_text(
            f"{self.user}:{{PLAIN}}{self.password}:{self.owner.pw_uid}:{self.owner.pw_gid}::{self.folder / 'home'}\n")
        self.conf = self.folder / "dovecot.conf"
        self.conf.write_text(DOVECOT_TEMPLATE.read_text()
                             .replace("@FOLDER@", str(self.folder)).replace("@PORT@", str(self.port))
                             .replace("@TLS_PORT@", str(self.tls_port))
                             .replace("@CERTIFICATES@", str(bench.certificates)))
        # -F keeps the master process in the foreground, a child of ours.
        self.process = bench.start(["dovecot", "-F", "-c", self.conf])
        try:
            for port in (self.port, self.tls_port):
                wait_for_port(port, self.process)
        except BenchFailure as failure:
            raise BenchFailure(f"dovecot: {failure}\n{self.log()}") from None

    def log(self):
        path = self.folder / "dovecot.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def fill(self, files):
        """Puts the files into the mailbox as new mail of the mail user, under names no earlier
        fill used."""
        self.fills += 1
        for n, source in enumerate(files, 1):
            target = self.maildir / "new" / f"17000{self.fills:05d}.M{n}P1.bench"
            shutil.copyfile(source, target)
            os.chown(target, self.owner.pw_uid, self.owner.pw_gid)
        # Written out now, so that no tool's first fsync has to write the fill (or earlier runs' files).
        os.sync()

    def count(self):
        return sum(len(os.listdir(self.maildir / sub)) for sub in ("new", "cur"))

    def check_delivery(self, tool, expected, folder):
        """Fails unless the tool took every message off the server and left one file per message."""
        left, arrived = self.count(), files_in(folder)
        if left != 0 or arrived != expected:
            raise BenchFailure(f"{tool} left {left} messages on the server and delivered {arrived} files"
                               f" (expected {expected})")

    def stop(self):
        self.bench.processes.remove(self.process)
        # The master alone: it stops its own processes.
        status = stop_process(self.process, whole_group=False)
        if status != 0:
            raise BenchFailure(f"dovecot ended with {status} when asked to stop:\n{self.log()}")


def write_messages(folder, user, body):
    """200 messages of the same body, each with headers of its own."""
    folder.mkdir()
    for i in range(1, 201):
        head = (f"From: <sender{i}@example.test>\r\nTo: <{user}@example.test>\r\n"
                f"Subject: Retrieval benchmark message {i}\r\nMessage-ID: <{i}.bench@example.test>\r\n"
                f"Date: {rfc2822_now()}\r\n\r\n")
        (folder / f"{i:03d}.eml").write_bytes(head.encode() + body)
    return sorted(folder.iterdir())


class Retrieval:
    """Dovecot, the 200 messages and the retrieving tools, shared by sections 4 to 6. Each
    retrieval refills the mailbox with the files named, retrieves into a fresh folder and
    checks the delivery."""

    def __init__(self, bench):
        self.bench = bench
        work = bench.work
        self.dovecot = dovecot = Dovecot(bench)
        version = subprocess.run(["dovecot", "--version"], capture_output=True, text=True).stdout.split()
        print(f"dovecot {version[0] if version else '?'} on 127.0.0.1:{dovecot.port},"
              f" with pop3s on localhost:{dovecot.tls_port}")

        body = work / "body10k.txt"
        bench.run_driver("body10k", "body", 10000, body)
        self.messages_folder = work / "messages"
        self.messages = write_messages(self.messages_folder, dovecot.user, body.read_bytes())
        self.messages_bytes = sum(path.stat().st_size for path in self.messages)
        print(f"{len(self.messages)} messages, {self.messages_bytes} bytes in all", flush=True)

        user, password, port = dovecot.user, dovecot.password, dovecot.port
        # mpop: one maildir delivery per message, the list of UIDs it keeps in the run's folder.
        self.mpoprc = write_private(work / "mpoprc", (
            f"account default\nhost 127.0.0.1\nport {port}\ntls off\nauth user\nuser {user}\npassword {password}\n"
            f"delivery maildir {work}/mpop.box\nkeep off\nuidls_file {work}/mpop.uidls\n"))
        # fetchmail: an MDA that writes each message to a file of its own.
        self.fetchmail_home = work / "fetchmail.home"
        self.fetchmail_home.mkdir(mode=0o700)
        self.fetchmailrc = write_private(work / "fetchmailrc", (
            "set no bouncemail\n"
            f"poll 127.0.0.1 with proto POP3 service {port} auth password\n"
            f'  user "{user}" there with password "{password}"\n'
            "  options fetchall no keep\n"
            "  sslproto ''\n"
            f'  mda "cat > $(mktemp {work}/fetchmail.box/m.XXXXXX)"\n'))
        # getmail refuses to deliver as root: it runs as nobody, into a Maildir of nobody's, through
        # a wrapper that waits for its delivery children (see the wrapper); both lie in the run's
        # folder, where nobody can read them.
        self.getmail_home = work / "getmail.home"
        self.getmail_home.mkdir()
        write_private(self.getmail_home / "getmailrc", (
            f"[retriever]\ntype = SimplePOP3Retriever\nserver = 127.0.0.1\nport = {port}\n"
            f"username = {user}\npassword = {password}\ntimeout = 30\n\n"
            f"[destination]\ntype = Maildir\npath = {work}/getmail.box/\n\n"
            "[options]\ndelete = true\nread_all = true\nverbose = 0\n"))
        self.getmail_wrapper = shutil.copy(GETMAIL_WRAPPER, self.getmail_home)

    def ours(self, files, peak_memory=False):
        box = fresh_folder(self.bench.work / "ours.box")
        self.dovecot.fill(files)
        dovecot = self.dovecot
        timed, out = self.bench.run_driver("retrieve", "retrieve", f"127.0.0.1:{dovecot.port}", dovecot.user,
                                           dovecot.password, box, peak_memory=peak_memory)
        if out["result"] != "retrieved":
            raise BenchFailure(f"the Wrenpost retrieval failed:\n{out}")
        dovecot.check_delivery("wrenpost", len(files), box)
        return timed, out

    def mpop(self, files, peak_memory=False):
        box = fresh_folder(self.bench.work / "mpop.box", ("new", "cur", "tmp"))
        self.dovecot.fill(files)
        timed = self.bench.run_tool("mpop", ["mpop", "-q", "-C", self.mpoprc, "-a"], peak_memory=peak_memory)
        self.dovecot.check_delivery("mpop", len(files), box)
        return timed

    def fetchmail(self, files):
        box = fresh_folder(self.bench.work / "fetchmail.box")
        self.dovecot.fill(files)
        # Run as root, fetchmail locks the machine's one /run/fetchmail.pid unless told otherwise.
        command = ["fetchmail", "-N", "-s", "--pidfile", self.bench.work / "fetchmail.pid", "-f", self.fetchmailrc]
        timed = self.bench.run_tool("fetchmail", command,
                                    env=dict(os.environ, FETCHMAILHOME=str(self.fetchmail_home)))
        self.dovecot.check_delivery("fetchmail", len(files), box)
        return timed

    def getmail(self, files):
        box = fresh_folder(self.bench.work / "getmail.box", ("new", "cur", "tmp"), self.dovecot.owner)
        chown_tree(self.getmail_home, self.dovecot.owner)
        self.dovecot.fill(files)
        timed = self.bench.run_tool("getmail", [
            "runuser", "-u", "nobody", "--", DEBIAN_PYTHON, self.getmail_wrapper,
            f"--getmaildir={self.getmail_home}", "--rcfile=getmailrc", "--quiet"])
        self.dovecot.check_delivery("getmail", len(files), box)
        return timed


# --- 4. 200 messages of 10 KB from dovecot ------------------------------------------------


def section_retrieve(bench, retrieval):
    messages = retrieval.messages
    times = collections.defaultdict(list)
    last = {}

    def ours(_):
        timed, last["out"] = retrieval.ours(messages)
        times["call"].append(float(last["out"]["retrieve_ms"]))
        times["process"].append(timed.ms)

    def peer(tool):
        return lambda _: times[tool].append(getattr(retrieval, tool)(messages).ms)

    interleave(bench.retrieve_repeats, [ours, peer("mpop"), peer("fetchmail"), peer("getmail")],
               lambda round_: print(
                   f"round {round_}: wrenpost {times['call'][-1]:.1f} ms (in call) {times['process'][-1]:.1f} ms"
                   f" (process), mpop {times['mpop'][-1]:.1f} ms, fetchmail {times['fetchmail'][-1]:.1f} ms,"
                   f" getmail {times['getmail'][-1]:.1f} ms", flush=True))
    out = last["out"]
    stored = int(out["file_bytes"])
    print(f"Wrenpost's last run: {out['files']} files, {stored} bytes (the messages plus the 3-byte terminating"
          f" line each), {out['beeps']} beeps, {out['cpu_s']} s user+system in the call,"
          f" console.txt {out['console_txt_bytes']} bytes")
    expected = retrieval.messages_bytes + 3 * len(messages)
    if stored != expected:
        raise BenchFailure(f"Wrenpost stored {stored} bytes, expected {expected}")
    print(f"load average after: {load_average()}")

    call, process, mpop = median(times["call"]), median(times["process"]), median(times["mpop"])
    bench.row("retrieve 200 x 10 KB, ms: in call / mpop", call, mpop, at_most(1.5))
    bench.row("retrieve 200 x 10 KB, ms: process / mpop", process, mpop)
    for tool in ("fetchmail", "getmail"):
        bench.row(f"retrieve 200 x 10 KB, ms: in call / {tool}", call, median(times[tool]))


# --- 5. One 50 MB and one 5 MB message --------------------------------------------------


def stored_as_sent(stored, message):
    """Whether the stored file holds the message followed by the terminating line, and no more."""
    with open(stored, "rb") as got, open(message, "rb") as sent:
        while chunk := sent.read(MB):
            if got.read(len(chunk)) != chunk:
                return False
        return got.read() == b".\r\n"


def section_large(bench, retrieval):
    heading(f"5. One 5 MB and one 50 MB message, and an empty mailbox, {bench.retrieve_repeats} runs each")
    work = bench.work
    large = {}
    for size in (5, 50):
        body = work / f"body.{size}.txt"
        bench.run_driver(f"body.{size}", "body", size * MB, body)
        head = (f"From: <sender@example.test>\r\nTo: <{retrieval.dovecot.user}@example.test>\r\n"
                f"Subject: A {size} MB message\r\nDate: {rfc2822_now()}\r\n\r\n")
        large[size] = work / f"large.{size}.eml"
        write_message(large[size], head, body)
        body.unlink()

    def ours(files):
        """Our driver on the files (none: an empty mailbox): the time in the call and the peak RSS
        the driver reports."""
        _, out = retrieval.ours(files, peak_memory=True)
        if files:
            stored = list((work / "ours.box").iterdir())
            if len(stored) != 1 or not stored_as_sent(stored[0], files[0]):
                raise BenchFailure(f"the stored message differs from {files[0]} (plus its terminating line)")
        return float(out["retrieve_ms"]), int(out["peak_rss_kb"])

    runs = collections.defaultdict(list)
    for run in range(1, bench.retrieve_repeats + 1):
        runs["empty"].append(ours([]))
        runs[5].append(ours([large[5]]))
        runs[50].append(ours([large[50]]))
        mpop = retrieval.mpop([large[50]], peak_memory=True)
        runs["mpop"].append((mpop.ms, mpop.peak_kb))
        (empty_ms, empty_kb), (ms5, kb5), (ms50, kb50), (mpop_ms, mpop_kb) = (
            runs[key][-1] for key in ("empty", 5, 50, "mpop"))
        print(f"run {run}: empty {empty_ms:.1f} ms {empty_kb} KB peak; 5 MB {ms5:.1f} ms {kb5} KB;"
              f" 50 MB {ms50:.1f} ms {kb50} KB; mpop 50 MB {mpop_ms:.1f} ms {mpop_kb} KB", flush=True)
    print(f"load average after: {load_average()}")

    def medians(key):
        return median(ms for ms, _ in runs[key]), median(kb for _, kb in runs[key])

    (small_ms, small_kb), (large_ms, large_kb) = medians(5), medians(50)
    _, empty_kb = medians("empty")
    mpop_ms, mpop_kb = medians("mpop")
    bench.row("retrieve one message, ms: 50 MB / 5 MB", large_ms, small_ms, at_most(12.5, "~10 (<= 12.5)"))
    print(f"peak RSS: empty mailbox {empty_kb} KB, 5 MB {small_kb} KB, 50 MB {large_kb} KB")
    bench.row("retrieve 50 MB, MB: peak RSS - empty / size", (large_kb - empty_kb) / 1024,
              large[50].stat().st_size / MB, below(3))
    bench.row("retrieve 50 MB, ms: in call / mpop", large_ms, mpop_ms)
    bench.row("retrieve 50 MB, peak RSS MB: process / mpop", large_kb / 1024, mpop_kb / 1024)


# --- 6. Our POP3 server beside dovecot ----------------------------------------------------


class OurServer:
    """Our POP3 server in the driver, its application folder serve.NAME in the run's folder,
    serving until its stdin closes."""

    def __init__(self, bench, name, clock_ms, user, password):
        self.bench, self.name = bench, name
        folder = bench.work / f"serve.{name}"
        self.mailbox = folder / "MailFolder/POP3MailBox"
        self.deleted = folder / "MailFolder/Deleted_Messages"
        self.out, self.err = bench.work / f"serve.{name}.out", bench.work / f"serve.{name}.err"
        self.process = bench.start([bench.driver, "serve", folder, user, password, 0, clock_ms],
                                   stdin=subprocess.PIPE, stdout=self.out, stderr=self.err)
        deadline = time.monotonic() + 10
        while not (port := self.output()["port"]) and self.process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        if not port:
            raise BenchFailure(f"our POP3 server ({name}) did not start listening:\n{self.output()}")
        self.port = int(port)

    def output(self):
        return Output(self.out.read_text(errors="replace"), self.err.read_text(errors="replace"))

    def stop(self):
        """Closes the server's stdin, waits for its end and fails unless it stopped cleanly."""
        self.bench.processes.remove(self.process)
        self.process.stdin.close()
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            stop_process(self.process)
        out = self.output()
        if self.process.returncode != 0 or out["result"] != "stopped":
            raise BenchFailure(f"our POP3 server ({self.name}) did not stop cleanly"
                               f" (status {self.process.returncode}):\n{out}")
        return out


def section_serve(bench, retrieval):
    rounds = bench.retrieve_repeats
    heading(f"6. 200 messages of 10 KB served to one poplib client (RETR and DELE each, QUIT), {rounds} rounds")
    print(f"load average before: {load_average()}")
    dovecot, messages = retrieval.dovecot, retrieval.messages
    # The server's clock as built; the second server's clock ticks once an hour, so that only the
    # steps the server queues at once (on socket events and after steps that leave work) can
    # carry its sessions.
    tick_ms, hour_ms = 50, 3600000
    servers = {name: OurServer(bench, name, clock_ms, dovecot.user, dovecot.password)
               for name, clock_ms in (("tick", tick_ms), ("hour", hour_ms))}
    print(f"our server on 127.0.0.1:{servers['tick'].port} ({tick_ms} ms clock) and 127.0.0.1:{servers['hour'].port}"
          f" ({hour_ms} ms clock), dovecot on 127.0.0.1:{dovecot.port}", flush=True)
    session, process = collections.defaultdict(list), collections.defaultdict(list)
    last = {}

    def fetch_all(label, port):
        """One session of the client: the session's time (connect to QUIT's reply) and the client
        process's, in ms. The client itself checks that it got the very messages."""
        # This interpreter, not a version manager's wrapper script, so that the process times hold
        # Python's start and nothing else besides the session.
        timed, out = bench.run_captured(f"fetch.{label}", [
            sys.executable, POP3_FETCH, "127.0.0.1", port, dovecot.user, dovecot.password, retrieval.messages_folder])
        if out["messages"] != str(len(messages)):
            raise BenchFailure(f"the poplib client got {out['messages'] or 'no'} messages from {label}:\n{out}")
        session[label].append(float(out["session_ms"]))
        process[label].append(timed.ms)
        last[label] = out

    def serve_ours(name):
        """The mailbox refilled, the deleted messages' folder emptied (untimed), one session; then
        every message must have moved into the deleted messages' folder."""
        def run(_):
            server = servers[name]
            for path in server.deleted.iterdir():
                path.unlink()
            for path in messages:
                shutil.copy(path, server.mailbox)
            os.sync()
            fetch_all(name, server.port)
            left, moved = files_in(server.mailbox), files_in(server.deleted)
            if left != 0 or moved != len(messages):
                raise BenchFailure(f"our server ({name}) left {left} messages and moved {moved}"
                                   f" (expected {len(messages)})")
        return run

    def serve_dovecot(_):
        dovecot.fill(messages)
        fetch_all("dovecot", dovecot.port)
        if (left := dovecot.count()) != 0:
            raise BenchFailure(f"dovecot kept {left} messages after the session")

    interleave(rounds, [serve_ours("tick"), serve_ours("hour"), serve_dovecot], lambda round_: print(
        f"round {round_}: ours, {tick_ms} ms clock {session['tick'][-1]:.1f} ms (session)"
        f" {process['tick'][-1]:.1f} ms (client process); ours, {hour_ms} ms clock {session['hour'][-1]:.1f} ms"
        f" ({process['hour'][-1]:.1f} ms); dovecot {session['dovecot'][-1]:.1f} ms ({process['dovecot'][-1]:.1f} ms)",
        flush=True))
    commands = int(last["dovecot"]["commands"])
    for name, server in servers.items():
        out = server.stop()
        print(f"our server ({name}): each session from the accepted connection to the step that prepares for the next:")
        for line in out.all("session_ms"):
            print("  " + line)
        print(f"  console.txt {out['console_txt_bytes']} bytes in all, {out['cpu_s']} s user+system in all")
    print(f"load average after: {load_average()}")

    tick, hour, theirs = (median(session[label]) for label in ("tick", "hour", "dovecot"))
    # Paced by its clock alone, the server would take one step per tick: one per command line,
    # and the greeting, the update, the close and the preparation for the next client.
    paced_ms = (commands + 4) * tick_ms
    bench.row("serve 200 x 10 KB, ms: session / dovecot", tick, theirs, at_most(2))
    bench.row("serve 200 x 10 KB, ms: client process / dovecot", median(process["tick"]), median(process["dovecot"]))
    bench.row("serve 200 x 10 KB, ms: 1 h clock / dovecot", hour, theirs, at_most(2))
    bench.row(f"serve, ms: 1 h clock / clock alone, ({commands} commands + 4) x {tick_ms} ms", hour, paced_ms)


# --- Summary ----------------------------------------------------------------------------


def print_summary(bench):
    heading("Summary")
    n, r = bench.repeats, bench.retrieve_repeats
    print(f"""\
Medians of {n} runs (the reply wait: one run). The send target uses the time measured inside
the driver, from just before SendEmailMessage to its return; 'process' is the driver's whole run.
For the text rows the wrenpost column holds the 100 MB time, the peer column the 10 MB time.
Retrieval rows: medians of {r} runs; 'in call' is from just before RetrieveMail to its return,
the peers' times are their whole runs. The 50 MB / 5 MB row holds both of our times; the memory row
the 50 MB run's peak RSS minus the empty mailbox run's, beside the message size (MB = 2^20 bytes).
Serve rows: medians of {r} runs of the same poplib client; 'session' is from before its connect to
QUIT's reply, 'client process' its whole run. '1 h clock' is our server with its clock ticking once an
hour; 'clock alone' is what a session would take at one step per tick of the 50 ms clock.""")
    table = [("benchmark", "wrenpost", "peer", "ratio", "target", "met"), *bench.rows]
    widths = [max(len(row[i]) for row in table) for i in range(6)]
    for row in table:
        print(" | ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


# --- Main -------------------------------------------------------------------------------


def positive(name, default):
    value = os.environ.get(name) or str(default)
    if not value.isdigit() or int(value) < 1:
        sys.exit(f"run.py: {name} must be a positive whole number, not {value!r}")
    return int(value)


def wanted_sections():
    listed = os.environ.get("BENCH_SECTIONS") or ",".join(map(str, SECTIONS))
    sections = {int(part) for part in listed.split(",") if part.strip().isdigit()}
    if not sections or not sections <= set(SECTIONS) or len(sections) != len(listed.split(",")):
        sys.exit(f"run.py: BENCH_SECTIONS lists sections 1 to 6, separated by commas, not {listed!r}")
    return sections


def interrupted(signum, _):
    raise KeyboardInterrupt(signal.Signals(signum).name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n\n".join(__doc__.split("\n\n")[1:]))
    parser.add_argument("--driver", type=Path,
                        default=os.environ.get("WRENPOST_BENCH_DRIVER") or ROOT / "build-bench/wrenpost-bench",
                        help="the wrenpost-bench executable")
    driver = parser.parse_args().driver.resolve()
    if not os.access(driver, os.X_OK):
        sys.exit(f"run.py: no driver at {driver}: build it with bash bench/run.sh")
    sections = wanted_sections()
    repeats = positive("BENCH_REPEATS", 5)
    retrieve_repeats = positive("BENCH_RETRIEVE_REPEATS", 3)

    # A termination or hang-up ends the run as Ctrl+C does, through the clean-up below.
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)
    bench = Bench(driver, repeats, retrieve_repeats)
    retrieval = None
    try:
        if 1 in sections:
            section_send(bench)
        if 2 in sections:
            section_text(bench)
        if 3 in sections:
            section_reply_wait(bench)
        if sections & {4, 5, 6}:
            if 4 in sections:
                heading(f"4. 200 messages of 10 KB retrieved and deleted from dovecot, {retrieve_repeats} rounds")
            else:
                listed = ",".join(str(s) for s in sorted(sections))
                heading(f"A private dovecot and 200 messages of 10 KB, for the sections {listed}")
            print(f"load average before: {load_average()}")
            retrieval = Retrieval(bench)
            if 4 in sections:
                section_retrieve(bench, retrieval)
            if 5 in sections:
                section_large(bench, retrieval)
            if 6 in sections:
                section_serve(bench, retrieval)
            retrieval.dovecot.stop()
        print_summary(bench)
        return 0
    except BenchFailure as failure:
        print(f"run.py: {failure}", file=sys.stderr)
        return 1
    except KeyboardInterrupt as interruption:
        print(f"\nrun.py: interrupted{f' ({interruption})' if str(interruption) else ''}", file=sys.stderr)
        return 130
    finally:
        # No second interruption may leave processes or the folder behind.
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        bench.close()


if __name__ == "__main__":
    sys.exit(main())
