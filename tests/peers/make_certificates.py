#!/usr/bin/python3
# make_certificates.py FOLDER: a test certificate authority (ca.pem) and, signed by it for the host
# name localhost only, a server certificate valid now (server.pem, server.key) and one that expired
# a month ago (expired.pem, expired.key).

import datetime
import sys
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

now, day = datetime.datetime.now(datetime.timezone.utc), datetime.timedelta(days=1)
PEM = serialization.Encoding.PEM


def certificate(name, key, issuer_key, days, extension, issuer=None):
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    return (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer or subject)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now + days[0] * day).not_valid_after(now + days[1] * day)
            .add_extension(extension, critical=False).sign(issuer_key, hashes.SHA256()))


ca_key = ec.generate_private_key(ec.SECP256R1())
ca = certificate("Wrenpost Test CA", ca_key, ca_key, (-1, 30), x509.BasicConstraints(ca=True, path_length=None))
Path(sys.argv[1], "ca.pem").write_bytes(ca.public_bytes(PEM))
for name, days in (("server", (-1, 30)), ("expired", (-60, -30))):
    key = ec.generate_private_key(ec.SECP256R1())
    Path(sys.argv[1], f"{name}.key").write_bytes(key.private_bytes(PEM, serialization.PrivateFormat.PKCS8,
                                                                   serialization.NoEncryption()))
    server = certificate("localhost", key, ca_key, days, x509.SubjectAlternativeName([x509.DNSName("localhost")]), ca.subject)
    Path(sys.argv[1], f"{name}.pem").write_bytes(server.public_bytes(PEM))
