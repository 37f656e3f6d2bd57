#!/usr/bin/python3
"""smtp_capture.py PORT FOLDER: an SMTP server that keeps each message as it crossed the wire (Peers.h)."""

import re
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

TRANSACTION = re.compile(rb"(.*?\r\nDATA\r\n)(.*?\r\n\.\r\n)", re.DOTALL | re.IGNORECASE)


class CapturingSMTP(SMTP):
    wire = b""

    def data_received(self, data):
        self.wire += data
        super().data_received(data)


class CaptureHandler:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        transaction = TRANSACTION.match(server.wire)
        server.wire = server.wire[transaction.end():]
        self.count += 1
        for kind, part in (("envelope", transaction[1]), ("data", transaction[2])):
            with open(f"{sys.argv[2]}/{self.count}.{kind}", "wb") as capture:
                capture.write(part)
        return "250 2.0.0 Stored"


class CaptureController(Controller):
    def factory(self):
        return CapturingSMTP(self.handler, **self.SMTP_kwargs)


CaptureController(CaptureHandler(), hostname="127.0.0.1", port=int(sys.argv[1]), server_hostname="capture.test",
                  ident="ESMTP capture").start()
threading.Event().wait()
