"""The servers and clients bench/run.py sets beside Wrenpost: smtp-sink, a private dovecot and
the retrieving tools on its mailbox, and our own POP3 server in the driver."""

import os
import pwd
import re
import shutil
import subprocess
import time

from benchkit import (BENCH_DIR, DEBIAN_PYTHON, ROOT, BenchFailure, Output, chown_tree, files_in, free_port,
                      fresh_folder, rfc2822_now, stop_process, wait_for_port, write_private)

DOVECOT_TEMPLATE = ROOT / "tests/peers/dovecot.conf.in"
GETMAIL_WRAPPER = BENCH_DIR / "getmail_waitpid.py"


class SmtpSink:
    """smtp-sink on a free loopback port, accepting every message and discarding it; with tls, socat
    in front of it on another port, speaking TLS from the first byte with the run's certificate
    for localhost."""

    def __init__(self, bench, tls=False):
        self.port = free_port()
        self.log = bench.work / f"sink.{self.port}.log"
        self.processes = [bench.start(["smtp-sink", "-u", "nobody", "-c", f"127.0.0.1:{self.port}", "256"],
                                      stdout=self.log, stderr=subprocess.STDOUT)]
        wait_for_port(self.port, self.processes[0])
        if tls:
            certificates = bench.certificates
            self.tls_port = free_port()
            # A child of socat per connection: the handshake, then a plain connection to smtp-sink.
            self.processes.append(bench.start([
                "socat", f"OPENSSL-LISTEN:{self.tls_port},bind=127.0.0.1,reuseaddr,fork,verify=0,"
                f"cert={certificates}/server.pem,key={certificates}/server.key", f"TCP:127.0.0.1:{self.port}"],
                stderr=bench.work / f"socat.{self.tls_port}.err"))
            wait_for_port(self.tls_port, self.processes[1])
        self.before = self.messages()

    def messages(self):
        """The message count smtp-sink -c last wrote to its log."""
        counts = re.findall(rb"mesg=(\d+)", self.log.read_bytes())
        return int(counts[-1]) if counts else 0

    def check(self, expected):
        """Fails unless the sink counted as many messages as expected since it started."""
        # smtp-sink updates its count after it has answered the message; give it a moment.
        deadline = time.monotonic() + 5
        while (delivered := self.messages() - self.before) < expected and time.monotonic() < deadline:
            time.sleep(0.1)
        print(f"smtp-sink counted {delivered} messages (expected {expected})")
        if delivered != expected:
            raise BenchFailure("smtp-sink did not get every message")

    def stop(self):
        for process in reversed(self.processes):
            stop_process(process)


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

    def server(self, tls=False):
        """Host and port for a client: over TLS the name the test certificate is made out to."""
        return ("localhost", self.tls_port) if tls else ("127.0.0.1", self.port)

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


def mpop_rc(path, server, user, password, delivery, tls=False, pipelining=True):
    """An mpop configuration: the server (host, port), with TLS from the first byte (trusting the
    system's authorities) or without; delivery as mpop's "delivery" line has it; the list of UIDs
    it keeps beside the file; no Received header, so that what it delivers is what the server sent.
    Without pipelining, mpop waits for each reply before its next command, as Wrenpost does."""
    host, port = server
    tls = "tls on\ntls_starttls off\ntls_trust_file system\n" if tls else "tls off\n"
    return write_private(path, (
        f"account default\nhost {host}\nport {port}\n{tls}auth user\nuser {user}\npassword {password}\n"
        f"delivery {delivery}\npipelining {'auto' if pipelining else 'off'}\nkeep off\nreceived_header off\n"
        f"uidls_file {path}.uidls\n"))


class Retrieval:
    """Dovecot, the 200 messages and the retrieving tools, shared by sections 4 to 7. Each
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
        # mpop: one maildir delivery per message, over TCP and over TLS from the first byte,
        # pipelining its commands or not.
        self.mpoprc = {(tls, pipelining): mpop_rc(work / f"mpoprc{'.tls' if tls else ''}{'' if pipelining else '.serial'}",
                                                  dovecot.server(tls), user, password, f"maildir {work}/mpop.box",
                                                  tls=tls, pipelining=pipelining)
                       for tls in (False, True) for pipelining in (True, False)}
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

    def ours(self, files, peak_memory=False, tls=False):
        """Our driver's retrieval; over TLS its server name is the one the certificate names."""
        box = fresh_folder(self.bench.work / "ours.box")
        self.dovecot.fill(files)
        dovecot = self.dovecot
        host, port = dovecot.server(tls)
        server = f"pop3s://{host}:{port}" if tls else f"{host}:{port}"
        timed, out = self.bench.run_driver("retrieve", "retrieve", server, dovecot.user, dovecot.password, box,
                                           peak_memory=peak_memory)
        if out["result"] != "retrieved":
            raise BenchFailure(f"the Wrenpost retrieval failed:\n{out}")
        dovecot.check_delivery("wrenpost", len(files), box)
        return timed, out

    def mpop(self, files, peak_memory=False, tls=False, pipelining=True):
        box = fresh_folder(self.bench.work / "mpop.box", ("new", "cur", "tmp"))
        self.dovecot.fill(files)
        timed = self.bench.run_tool("mpop", ["mpop", "-q", "-C", self.mpoprc[tls, pipelining], "-a"],
                                    peak_memory=peak_memory)
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



class OurServer:
    """Our POP3 server in the driver, its application folder serve.NAME in the run's folder,
    serving until its stdin closes; clock_ms 0 keeps the clock as built."""

    def __init__(self, bench, name, clock_ms, user, password):
        self.bench, self.name = bench, name
        folder = bench.work / f"serve.{name}"
        self.mailbox = folder / "MailFolder/POP3MailBox"
        self.deleted = folder / "MailFolder/Deleted_Messages"
        self.out, self.err = bench.work / f"serve.{name}.out", bench.work / f"serve.{name}.err"
        # Started from /usr/bin/time, so that the peak memory the driver reports is its own and
        # not this interpreter's (see Bench.run_timed).
        self.process = bench.start(["/usr/bin/time", "-f", "%M", "-o", bench.work / f"serve.{name}.peak_kb",
                                    bench.driver, "serve", folder, user, password, 0, clock_ms],
                                   stdin=subprocess.PIPE, stdout=self.out, stderr=self.err)
        deadline = time.monotonic() + 10
        while not (port := self.output()["port"]) and self.process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        if not port:
            raise BenchFailure(f"our POP3 server ({name}) did not start listening:\n{self.output()}")
        self.port = int(port)

    def refill(self, files):
        """The mailbox filled with the files and the deleted messages' folder emptied."""
        for path in self.deleted.iterdir():
            path.unlink()
        for path in files:
            shutil.copy(path, self.mailbox)
        os.sync()

    def check_served(self, expected):
        """Fails unless every message has moved from the mailbox into the deleted messages' folder."""
        left, moved = files_in(self.mailbox), files_in(self.deleted)
        if left != 0 or moved != expected:
            raise BenchFailure(f"our server ({self.name}) left {left} messages and moved {moved} (expected {expected})")

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

