"""Loopback server for the static pages the Web keyword tests drive in Chromium.

Serves the files of tests/pages/ plus jQuery and chosen from the npm packages at the
project root, so no page ever reaches beyond 127.0.0.1.
"""

from __future__ import annotations

import socket
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import unquote, urlsplit

PAGES = Path(__file__).resolve().parent / "pages"
NODE_MODULES = Path(__file__).resolve().parent.parent / "node_modules"

VENDOR = {
    "/vendor/jquery.js": "jquery/dist/jquery.min.js",
    "/vendor/chosen.jquery.js": "chosen-js/chosen.jquery.min.js",
    "/vendor/chosen.css": "chosen-js/chosen.min.css",
    # chosen.css names its sprite relative to itself.
    "/vendor/chosen-sprite.png": "chosen-js/chosen-sprite.png",
}

CONTENT_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "application/javascript",
    ".css": "text/css",
    ".png": "image/png",
}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Write each response in one piece: keep-alive clients otherwise wait on Nagle.
    wbufsize = -1

    def log_message(self, format, *args):  # keep test output quiet
        pass

    def _resolve(self) -> Path | None:
        path = unquote(urlsplit(self.path).path)
        if path in VENDOR:
            return NODE_MODULES / VENDOR[path]
        target = (PAGES / path.lstrip("/")).resolve()
        # Anything that climbs out of pages/ (../, symlinks) or names a directory is absent.
        if not target.is_relative_to(PAGES) or not target.is_file():
            return None
        return target

    def _respond(self, with_body: bool) -> None:
        target = self._resolve()
        content_type = CONTENT_TYPES.get(target.suffix) if target else None
        if target is None or content_type is None or not target.is_file():
            data, content_type, status = b"not found\n", "text/plain; charset=utf-8", 404
        else:
            data, status = target.read_bytes(), 200
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if with_body:
            self.wfile.write(data)

    def do_GET(self):
        self._respond(with_body=True)

    def do_HEAD(self):
        self._respond(with_body=False)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def server_bind(self):
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().server_bind()


def serve_pages() -> tuple[Server, str]:
    """Start the page server on 127.0.0.1 in a daemon thread; returns it and its base URL."""
    if not NODE_MODULES.is_dir():
        raise RuntimeError(
            "node_modules/ is missing: run `npm ci` in the project root (make test does)"
        )
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}"
