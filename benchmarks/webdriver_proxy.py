"""A loopback proxy in front of chromedriver that counts the WebDriver requests and the bytes
sent to it, so the browser scenario compares round trips as well as time.

Both tools are pointed at it as their remote WebDriver address; `counts()` reads what went
through since the last `reset()`, `commands()` the requests themselves.
"""

from __future__ import annotations

import http.client
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class CountingProxy:
    def __init__(self, target_port: int):
        self.requests = 0
        self.sent = 0
        self.log: list[tuple[str, str]] = []  # (method, path) of each request, in order
        self._lock = threading.Lock()
        proxy = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"
            # The reply goes out as headers then body: without TCP_NODELAY the body waits for
            # the client's delayed ACK (40 ms a request), which the tools would not pay
            # talking to the driver directly.
            disable_nagle_algorithm = True

            def log_message(self, *args):  # quiet
                pass

            def _forward(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else None
                with proxy._lock:
                    proxy.requests += 1
                    proxy.sent += length
                    proxy.log.append((self.command, self.path))
                upstream = http.client.HTTPConnection("127.0.0.1", target_port, timeout=120)
                try:
                    headers = {k: v for k, v in self.headers.items()
                               if k.lower() not in ("host", "connection")}
                    upstream.request(self.command, self.path, body, headers)
                    reply = upstream.getresponse()
                    data = reply.read()
                finally:
                    upstream.close()
                self.send_response(reply.status)
                for key, value in reply.getheaders():
                    if key.lower() not in ("transfer-encoding", "connection", "content-length"):
                        self.send_header(key, value)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            do_GET = do_POST = do_DELETE = _forward

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def reset(self) -> None:
        with self._lock:
            self.requests = self.sent = 0
            self.log = []

    def counts(self) -> tuple[int, int]:
        with self._lock:
            return self.requests, self.sent

    def commands(self) -> list[tuple[str, str]]:
        with self._lock:
            return list(self.log)

    def close(self) -> None:
        self.server.shutdown()
        self.server.server_close()
