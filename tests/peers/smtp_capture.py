#!/usr/bin/python3
# smtp_capture.py FOLDER MODE:PORT...: SMTP servers that keep each message as it crossed the wire,
# in FOLDER/MODE (Peers.h). Modes: plain; starttls (submission: STARTTLS and a login required);
# tls (TLS from the first byte, a login by AUTH LOGIN required); expired (tls with an expired
# certificate). The TLS modes take their certificates from FOLDER/certificates.

import re
import ssl
import sys
import threading
from pathlib import Path

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult

TRANSACTION = re.compile(rb"(.*?\r\nDATA\r\n)(.*?\r\n\.\r\n)", re.DOTALL | re.IGNORECASE)
LOGIN = (b"alice", b"Wren-Pass-1")


class CapturingSMTP(SMTP):
    wire = b""

    def data_received(self, data):
        self.wire += data
        super().data_received(data)


class CaptureHandler:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_DATA(self, server, session, envelope):
        transaction = TRANSACTION.match(server.wire)
        server.wire = server.wire[transaction.end():]
        self.count += 1
        for kind, part in (("envelope", transaction[1]), ("data", transaction[2])):
            (self.folder / f"{self.count}.{kind}").write_bytes(part)
        return "250 2.0.0 Stored"


class CaptureController(Controller):
    def factory(self):
        return CapturingSMTP(self.handler, **self.SMTP_kwargs)


def tls(name):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(f"{sys.argv[1]}/certificates/{name}.pem", f"{sys.argv[1]}/certificates/{name}.key")
    return context


def authenticate(server, session, envelope, mechanism, login):
    # Not handled: aiosmtpd then answers a refusal itself, with 535.
    return AuthResult(success=(login.login, login.password) == LOGIN, handled=False)


def settings(mode):
    login = dict(auth_required=True, authenticator=authenticate)
    return {"plain": {},
            "starttls": dict(tls_context=tls("server"), require_starttls=True, **login),
            "tls": dict(ssl_context=tls("server"), auth_require_tls=False, auth_exclude_mechanism=["PLAIN"], **login),
            "expired": dict(ssl_context=tls("expired"), auth_require_tls=False, **login)}[mode]


for mode, port in (argument.split(":") for argument in sys.argv[2:]):
    folder = Path(sys.argv[1], mode)
    folder.mkdir(exist_ok=True)
    CaptureController(CaptureHandler(folder), hostname="127.0.0.1", port=int(port), server_hostname="capture.test",
                      ident="ESMTP capture", **settings(mode)).start()
threading.Event().wait()
