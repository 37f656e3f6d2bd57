"""What every benchmark of bench/run.py stands on: the run's folder and processes, timed runs
of the driver and of the peer tools, the files they work on and the summary's rows."""

import contextlib
import email.utils
import functools
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path
from typing import NamedTuple

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
MAKE_CERTIFICATES = ROOT / "tests/peers/make_certificates.py"
# Where the run's certificate authority is trusted system-wide while the run lasts.
SYSTEM_TRUSTED_CA = Path("/usr/local/share/ca-certificates/wrenpost-bench.crt")
# getmail is a Debian package: its modules are there for Debian's interpreter only.
DEBIAN_PYTHON = "/usr/bin/python3"
MB = 1024 * 1024
SENDER, RECIPIENT = "sender@example.test", "recipient@example.test"

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


def write_message(path, head, body, times=1):
    """A message file: the head, then the body file's bytes the times given, copied a piece at a
    time. The processes started from here count this interpreter's peak memory in theirs, so it
    stays small."""
    with open(path, "wb") as message:
        message.write(head.encode())
        for _ in range(times):
            with open(body, "rb") as source:
                shutil.copyfileobj(source, message, MB)


def body_file(bench, megabytes):
    """A body of about the size given in the driver's lines (some of them starting with "."), made
    once a run."""
    path = bench.work / f"body.{megabytes}MB.txt"
    if not path.exists():
        bench.run_driver(f"body.{megabytes}MB", "body", megabytes * MB, path)
    return path


def message_file(bench, megabytes, times=1):
    """A whole message around a body of the size given (repeated the times given), made once a run."""
    path = bench.work / f"message.{megabytes * times}MB.eml"
    if not path.exists():
        head = (f'From: <{SENDER}>\r\nTo: "Bench Recipient" <{RECIPIENT}>\r\n'
                f"Subject: A {megabytes * times} MB message\r\nDate: {rfc2822_now()}\r\n\r\n")
        write_message(path, head, body_file(bench, megabytes), times)
    return path


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

    def __init__(self, driver, repeats, retrieve_repeats, largest=True):
        self.driver = driver
        # Whether section 5 retrieves its 500 MB message.
        self.largest = largest
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
        server.key for localhost, signed by it. Until close(), the system trusts ca.pem as it trusts
        a mail provider's authority, so that every client, ours and the peers, checks the servers'
        certificates as it would a provider's. The authority's key is not kept: nothing else can be
        signed by it."""
        folder = self.work / "certificates"
        folder.mkdir()
        self.run_captured("make_certificates", [DEBIAN_PYTHON, MAKE_CERTIFICATES, folder])
        shutil.copyfile(folder / "ca.pem", SYSTEM_TRUSTED_CA)
        self.run_captured("update-ca-certificates", ["update-ca-certificates"])
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

    def skipped(self, name, target, why):
        """A line of the summary for a benchmark this run left out, and the reason printed."""
        print(f"{name}: skipped, {why}", flush=True)
        self.rows.append((name, "-", "-", "-", target[0], "skipped"))

    def close(self):
        for process in reversed(self.processes):
            stop_process(process)
        self.processes.clear()
        if SYSTEM_TRUSTED_CA.exists():
            SYSTEM_TRUSTED_CA.unlink()
            subprocess.run(["update-ca-certificates", "--fresh"], stdout=subprocess.DEVNULL, check=False)
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



def stored_as_sent(stored, message):
    """Whether the stored file holds the message followed by the terminating line, and no more."""
    with open(stored, "rb") as got, open(message, "rb") as sent:
        while chunk := sent.read(MB):
            if got.read(len(chunk)) != chunk:
                return False
        return got.read() == b".\r\n"


def text_digest(path):
    """A digest of the file's text with CR LF line ends read as LF, read a piece at a time."""
    digest, carry = hashlib.sha1(), b""
    with open(path, "rb") as text:
        while chunk := text.read(MB):
            chunk = carry + chunk
            # A CR at the end of a piece may start the next piece's CR LF.
            carry = b"\r" if chunk.endswith(b"\r") else b""
            digest.update(chunk[:len(chunk) - len(carry)].replace(b"\r\n", b"\n"))
    digest.update(carry)
    return digest.hexdigest()
