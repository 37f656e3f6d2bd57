#!/usr/bin/env python3
"""One POP3 session as a plain client runs it: log in, RETR and DELE every message, QUIT.

    pop3_fetch.py HOST PORT USER PASSWORD [EXPECTED_FOLDER]

bench/run.py runs this same script against Wrenpost's local server and against dovecot. It
prints "key=value" lines: session_ms (from before the connect to the end of QUIT's reply),
messages, bytes (as poplib returns them: lines without their ends), commands (the command
lines sent). With EXPECTED_FOLDER it then checks, outside the timed part, that the messages
received are the folder's files (the same bytes, line ends aside, in any order) and fails
otherwise.
"""

import hashlib
import os
import poplib
import sys
import time


class CountingPOP3(poplib.POP3):
    """poplib's client, counting the command lines it sends."""

    commands = 0

    def _putcmd(self, line):
        self.commands += 1
        super()._putcmd(line)


def digest(lines):
    return hashlib.sha1(b"\r\n".join(lines)).hexdigest()


def expected_digests(folder):
    digests = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            text = f.read().replace(b"\r\n", b"\n")
            digests.append(digest(text.removesuffix(b"\n").split(b"\n")))
    return sorted(digests)


def main():
    if len(sys.argv) not in (5, 6):
        print("usage: pop3_fetch.py HOST PORT USER PASSWORD [EXPECTED_FOLDER]", file=sys.stderr)
        return 2
    host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]

    start = time.perf_counter()
    client = CountingPOP3(host, port, timeout=60)
    client.user(user)
    client.pass_(password)
    count, _ = client.stat()
    received = []
    for number in range(1, count + 1):
        _, lines, _ = client.retr(number)
        received.append(lines)
        client.dele(number)
    client.quit()
    session_ms = (time.perf_counter() - start) * 1000

    print(f"session_ms={session_ms:.3f}")
    print(f"messages={count}")
    print(f"bytes={sum(len(line) for lines in received for line in lines)}")
    print(f"commands={client.commands}")
    if len(sys.argv) == 6:
        if sorted(digest(lines) for lines in received) != expected_digests(sys.argv[5]):
            print("result=differs")
            return 1
    print("result=ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
