#!/usr/bin/python3
# pop3_client.py PORT PASSWORD OUTDIR [DELE-NUMBER...]: a POP3 session through poplib (PeerTest.cpp).

import poplib
import sys

port, password, outdir, *deletions = sys.argv[1:]
wire = open(f"{outdir}/wire.bin", "wb", buffering=0)


class Recorder:
    def __init__(self, inner):
        self.inner = inner

    def readline(self, *args):
        line = self.inner.readline(*args)
        wire.write(line)
        return line

    def close(self):
        self.inner.close()


class RecordingPOP3(poplib.POP3):
    def _getline(self):
        # The first line read is the greeting, inside the constructor.
        if not isinstance(self.file, Recorder):
            self.file = Recorder(self.file)
        return super()._getline()


def write(name, answer):
    with open(f"{outdir}/{name}", "wb") as out:
        out.write(b"".join(line + b"\r\n" for line in answer[1]))


pop = RecordingPOP3("127.0.0.1", int(port), timeout=15)
pop.user("wren")
pop.pass_(password)
count, _size = pop.stat()
write("list.txt", pop.list())
write("uidl.txt", pop.uidl())
for number in range(1, count + 1):
    write(f"{number}.eml", pop.retr(number))
write("top-2-2.txt", pop.top(2, 2))
write("top-3-1.txt", pop.top(3, 1))
for number in deletions:
    pop.dele(int(number))
pop.quit()
