#!/usr/bin/python3
"""A real SMTP server for the peer tests that keeps every message exactly as the client sent it.

usage: smtp_capture.py PORT FOLDER [--refuse ADDRESS]...

Listens on 127.0.0.1:PORT until it is terminated. For the N-th message accepted (counting from 1)
it writes, before it replies to the end of the content:
  FOLDER/N.envelope  the client's command lines of that transaction, byte for byte: the HELO line
                     when it opened the session, MAIL FROM, each RCPT TO, the DATA line;
  FOLDER/N.data      the bytes that followed the DATA reply, up to and including the line "."
                     that ended them (dot-stuffing and all, as they crossed the wire).
A RCPT TO for an address given with --refuse is answered "550 5.1.1 no such user".

Why aiosmtpd and not postfix's smtp-sink: both accept "MAIL FROM: a@x" without angle brackets
and a lower-case "data", but smtp-sink's dump turns CR LF into LF and puts a Received line with
the time and a queue id in front, so it cannot be compared byte for byte. Here the bytes are
taken as they arrive, before aiosmtpd parses them.
"""

import argparse
import pathlib
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class CapturingSMTP(SMTP):
    """An SMTP session that also keeps the raw bytes its client sent."""

    def connection_made(self, transport):
        self.wire = b""
        super().connection_made(transport)

    def data_received(self, data):
        self.wire += data
        super().data_received(data)


def split_transaction(wire):
    """(command lines through DATA, content through its terminating line, the rest)."""
    position = 0
    while True:
        end = wire.index(b"\n", position) + 1
        line = wire[position:end]
        position = end
        if line.rstrip(b"\r\n").upper() == b"DATA":
            break
    if wire.startswith(b".\r\n", position):
        stop = position + 3
    else:
        stop = wire.index(b"\r\n.\r\n", position) + 5
    return wire[:position], wire[position:stop], wire[stop:]


class CaptureHandler:
    def __init__(self, folder, refused):
        self.folder = folder
        self.refused = set(refused)
        self.count = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return "550 5.1.1 no such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        commands, content, rest = split_transaction(server.wire)
        server.wire = rest
        with self.lock:
            self.count += 1
            number = self.count
        (self.folder / f"{number}.data").write_bytes(content)
        (self.folder / f"{number}.envelope").write_bytes(commands)
        return f"250 2.0.0 Stored as message {number}"


class CaptureController(Controller):
    def factory(self):
        return CapturingSMTP(self.handler, **self.SMTP_kwargs)


def main():
    parser = argparse.ArgumentParser(description="SMTP server that stores what it receives")
    parser.add_argument("port", type=int)
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--refuse", action="append", default=[], metavar="ADDRESS")
    arguments = parser.parse_args()
    # A fixed server name and greeting: no name look-up, and replies the tests can predict.
    controller = CaptureController(CaptureHandler(arguments.folder, arguments.refuse), hostname="127.0.0.1",
                                   port=arguments.port, server_hostname="capture.test", ident="ESMTP capture")
    controller.start()
    threading.Event().wait()


if __name__ == "__main__":
    main()
