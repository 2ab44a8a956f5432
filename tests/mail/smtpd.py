# SPDX-License-Identifier: GPL-3.0-or-later
"""SMTP server on 127.0.0.1 for tst_smtp (needs Debian's /usr/bin/python3 with python3-aiosmtpd).

usage: smtpd.py OUTDIR USER PASSWORD [--tls]

Accepts AUTH LOGIN for USER/PASSWORD only (also without TLS) and writes each message to
OUTDIR/msg-N.json: envelope, login, the EHLO commands of its session, the raw message, its
headers as the standard parser decodes them, its MIME parts with their decoded bytes and the
defects the parser found; every recipient accepted goes to OUTDIR/rcpt.log. With --tls it makes
a CA and a server certificate with openssl in OUTDIR (the CA is OUTDIR/ca.pem), offers STARTTLS and insists on it.
Prints "PORT <n>" once it listens; stops on SIGTERM.
"""
import base64
import email
import email.policy
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

outdir, user, password = sys.argv[1:4]
use_tls = "--tls" in sys.argv[4:]


class Handler:
    def __init__(self):
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname  # a hook of our own must do what the default EHLO does
        # Kept on the connection's protocol object: STARTTLS gives the connection a new session.
        server.test_ehlo = getattr(server, "test_ehlo", []) + [[hostname, session.ssl is not None]]
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        with open(os.path.join(outdir, "rcpt.log"), "a") as f:
            f.write(address + "\n")
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.compat32)
        # The standard parser's reading: encoded words, charsets and file names decoded.
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        parts = []
        defects = [str(d) for d in parsed.defects]
        for part in parsed.walk():
            defects += [str(d) for d in part.defects]
            if part.is_multipart():
                continue
            parts.append({
                "type": part.get_content_type(),
                "charset": part.get_content_charset(),
                "filename": part.get_filename(),
                "data": base64.b64encode(part.get_payload(decode=True) or b"").decode(),
            })
        self.count += 1
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": session.auth_data.login.decode() if session.authenticated else None,
            "ehlo": getattr(server, "test_ehlo", []),
            "headers": [[k, v] for k, v in msg.items()],
            "decoded": {k: str(parsed[k]) for k in ("Subject", "From", "To")},
            "defects": defects,
            "parts": parts,
            "raw": raw.decode("latin-1"),
        }
        path = os.path.join(outdir, "msg-%d.json" % self.count)
        with open(path + ".tmp", "w") as f:
            json.dump(record, f)
        os.rename(path + ".tmp", path)  # the test never sees half a file
        return "250 OK"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (mechanism == "LOGIN" and isinstance(auth_data, LoginPassword)
          and auth_data.login == user.encode() and auth_data.password == password.encode())
    return AuthResult(success=ok, handled=False, auth_data=auth_data)  # handled=False: the server answers 535


def make_certificates():
    def run(*args):
        subprocess.run(["openssl", *args], cwd=outdir, check=True, capture_output=True)

    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Test mail CA",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(outdir, "server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(outdir, "server.pem"), os.path.join(outdir, "server.key"))
    return context


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


tls = {"tls_context": make_certificates(), "require_starttls": True} if use_tls else {}
controller = Controller(Handler(), hostname="127.0.0.1", port=free_port(), authenticator=authenticator,
                        auth_require_tls=False, **tls)
controller.start()
print("PORT %d" % controller.port, flush=True)

stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *_: stop.set())
stop.wait()
controller.stop()
