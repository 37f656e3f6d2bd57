#!/usr/bin/env python3
"""A POP3 client session through Python's poplib, for the local server's peer tests.

    pop3_client.py PORT USER PASSWORD OUTDIR session [DELE-NUMBER...]
        user, pass_, stat, list, uidl, retr of every message, top 2 2 and top 3 1, dele of the
        numbers given, quit.
    pop3_client.py PORT USER PASSWORD OUTDIR retry WRONG-PASSWORD
        user, pass_ with the wrong password (refused), user and pass_ again on the same
        connection, stat, quit.

What it received goes into OUTDIR as files, for the test to compare byte for byte:
    responses.txt  the first line of every answer, greeting included, each ended by CR LF (a
                   refused command's answer as poplib's error carries it; STAT as poplib read it)
    list.txt       the LIST answer: its first line, then the listing lines, each ended by CR LF
    uidl.txt       the UIDL answer, likewise
    N.eml          message N as poplib hands it over (stuffing undone), lines joined by CR LF
    top-N-K.txt    TOP N K as poplib hands it over, likewise
    wire.bin       every byte the server sent, as it came off the socket
Exit status 0 when the session ran to its end, 1 otherwise (the reason on stderr).
"""

import os
import poplib
import sys

CRLF = b"\r\n"


class RecordingFile:
    """The socket's read side, with a copy of every byte read."""

    def __init__(self, inner, sink):
        self.inner = inner
        self.sink = sink

    def readline(self, *args):
        line = self.inner.readline(*args)
        self.sink.write(line)
        return line

    def close(self):
        self.inner.close()


class RecordingPOP3(poplib.POP3):
    """poplib's client, keeping a copy of every byte it reads from the server."""

    def __init__(self, port, wire):
        self.wire = wire
        super().__init__("127.0.0.1", port, timeout=15)

    def _getline(self):
        # The first read is the greeting's, inside the constructor: the file is wrapped there.
        if not isinstance(self.file, RecordingFile):
            self.file = RecordingFile(self.file, self.wire)
        return super()._getline()


class Session:
    def __init__(self, port, outdir):
        self.outdir = outdir
        self.wire = open(os.path.join(outdir, "wire.bin"), "wb")
        self.pop = RecordingPOP3(port, self.wire)
        self.responses = [self.pop.welcome]

    def call(self, name, *args):
        try:
            answer = getattr(self.pop, name)(*args)
        except poplib.error_proto as refused:
            self.responses.append(refused.args[0])
            raise
        self.responses.append(answer[0] if isinstance(answer, tuple) else answer)
        return answer

    def stat(self):
        count, size = self.pop.stat()
        self.responses.append(b"(stat: %d messages, %d octets)" % (count, size))
        return count

    def write(self, name, data):
        with open(os.path.join(self.outdir, name), "wb") as out:
            out.write(data)

    def finish(self):
        self.write("responses.txt", b"".join(line + CRLF for line in self.responses))
        self.wire.close()


def multiline(answer):
    response, lines, _octets = answer
    return b"".join(line + CRLF for line in [response] + lines)


def whole_session(session, user, password, deletions):
    session.call("user", user)
    session.call("pass_", password)
    count = session.stat()
    session.write("list.txt", multiline(session.call("list")))
    session.write("uidl.txt", multiline(session.call("uidl")))
    for number in range(1, count + 1):
        _response, lines, _octets = session.call("retr", number)
        session.write("%d.eml" % number, b"".join(line + CRLF for line in lines))
    for number, body_lines in ((2, 2), (3, 1)):
        _response, lines, _octets = session.call("top", number, body_lines)
        session.write("top-%d-%d.txt" % (number, body_lines), b"".join(line + CRLF for line in lines))
    for number in deletions:
        session.call("dele", number)
    session.call("quit")


def password_retry(session, user, password, wrong):
    session.call("user", user)
    try:
        session.call("pass_", wrong)
    except poplib.error_proto:
        pass
    else:
        raise SystemExit("the wrong password was accepted")
    session.call("user", user)
    session.call("pass_", password)
    session.stat()
    session.call("quit")


if __name__ == "__main__":
    port, user, password, outdir, mode = sys.argv[1:6]
    rest = sys.argv[6:]
    session = Session(int(port), outdir)
    try:
        if mode == "session":
            whole_session(session, user, password, [int(number) for number in rest])
        elif mode == "retry":
            password_retry(session, user, password, rest[0])
        else:
            raise SystemExit("unknown mode " + mode)
    except (poplib.error_proto, OSError) as failure:
        print("pop3_client.py: %s failed: %r" % (mode, failure), file=sys.stderr)
        sys.exit(1)
    finally:
        session.finish()
