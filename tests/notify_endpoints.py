"""Loopback stand-ins for the notification endpoints: chat robots over HTTP and an SMTP
server (aiosmtpd), each recording what reaches it."""

import email
import email.header
import json
import socket
import ssl
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

ACCOUNT = "robot@example.test"
PASSWORD = "pw-Secret-7781"


class RobotHandler(BaseHTTPRequestHandler):
    """The first path segment picks the answer: /ok (200, errcode 0), /fail (500),
    /slow (200 after 3 s), /refuse (200 with an errcode, as robots refuse a bad key), /drip
    and /huge (200 with a reply that does not end), /trickle (headers a byte at a time)."""

    def do_POST(self):
        url = urlsplit(self.path)
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.server.requests.append(
            {"path": url.path, "raw_query": url.query, "query": parse_qs(url.query),
             "json": json.loads(body)})
        kind = url.path.split("/")[1]
        if kind in ("drip", "huge"):
            return self.endless_reply(drip=kind == "drip")
        if kind == "trickle":
            return trickle(self.wfile, b"HTTP/1.1 200 OK\r\nX-Pad: " + b"x" * 300)
        if kind == "slow":
            time.sleep(3)
        answer = {"errcode": 93000, "errmsg": "invalid webhook url"} if kind == "refuse" else {
            "errcode": 0, "errmsg": "ok"}
        payload = json.dumps(answer).encode()
        self.send_response(500 if kind == "fail" else 200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def endless_reply(self, drip):
        """200 and a body of 1 GB, one byte every 0.2 s (drip) or 64 KiB at a time (huge),
        until the client hangs up."""
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(1 << 30))
        self.end_headers()
        piece = b" " if drip else b" " * 65536
        try:
            for _ in range((1 << 30) // len(piece)):
                self.wfile.write(piece)
                self.wfile.flush()
                if drip:
                    time.sleep(0.2)
        except OSError:
            pass

    def log_message(self, *args):
        pass


def trickle(stream, data, pause=0.5):
    """Writes `data` a byte per `pause` (each read of the client returns in time, the whole
    answer never comes), until the client hangs up."""
    try:
        for byte in data:
            stream.write(bytes([byte]))
            stream.flush()
            time.sleep(pause)
    except OSError:
        pass


class TricklingMailServer:
    """An SMTP server on loopback that sends its greeting a byte at a time."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=trickle, args=(client.makefile("wb", buffering=0),
                                                   b"220 " + b"x" * 300), daemon=True).start()

    def stop(self):
        self.sock.close()


class Robots:
    def __init__(self):
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), RobotHandler)
        self.server.requests = []
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.base = f"http://127.0.0.1:{self.server.server_address[1]}"

    @property
    def requests(self):
        return self.server.requests

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


class MailBox:
    """aiosmtpd handler keeping each message with its envelope and whether it came over TLS."""

    def __init__(self):
        self.messages = []

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content)
        subject, charset = email.header.decode_header(message["Subject"])[0]
        parts = {part.get_content_type(): part.get_payload(decode=True).decode(
            part.get_content_charset()) for part in message.walk() if not part.is_multipart()}
        self.messages.append({
            "from": envelope.mail_from, "to": list(envelope.rcpt_tos), "message": message,
            "subject": subject.decode(charset) if charset else subject,
            "body": parts["text/plain"], "html": parts.get("text/html"),
            "tls": server.transport.get_extra_info("ssl_object") is not None,
            "authenticated": session.authenticated,
        })
        return "250 OK"


def one_account(server, session, envelope, mechanism, auth_data):
    return AuthResult(success=(auth_data.login, auth_data.password) == (
        ACCOUNT.encode(), PASSWORD.encode()), handled=False)


def free_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def start_mail_server(mode, certificate=None):
    """A running Controller on loopback: mode "plain", "tls" (STARTTLS required) or "ssl".
    Logging in works for ACCOUNT/PASSWORD only."""
    options = {"authenticator": one_account, "auth_require_tls": False}
    if mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        certificate.configure_cert(context)
        if mode == "ssl":
            options["ssl_context"] = context
        else:
            options.update(tls_context=context, require_starttls=True, auth_require_tls=True)
    controller = Controller(MailBox(), hostname="127.0.0.1", port=free_port(),
                            server_hostname="lumox-test", **options)
    controller.start()
    return controller


def wait_for(condition, what, patience=15.0):
    """Notices are delivered on worker threads: wait for their effect, with a deadline."""
    deadline = time.monotonic() + patience
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"gave up waiting for {what}")
        time.sleep(0.05)
