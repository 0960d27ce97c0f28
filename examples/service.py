"""A small HTTP service for the lumox demo and tests (loopback only).

Run it with ``python examples/service.py [--port 8765]``; tests start it in a thread
through ``serve_in_thread()``.
"""

from __future__ import annotations

import argparse
import email.parser
import email.policy
import json
import socket
import threading
import time
from http.cookies import SimpleCookie
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

USERS = {"alice": "secret", "张三": "密码"}
# Polls per job id of /api/job, and the logins that succeeded (/api/logins tells how
# many, to show that a run logged in once); handlers run on threads of their own.
JOBS = {}
JOBS_LOCK = threading.Lock()
LOGINS = {"count": 0}

ITEMS = [
    {"id": 1, "name": "苹果", "price": 5.5},
    {"id": 2, "name": "banana", "price": 3},
]

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>lumox demo</title></head>
<body>
<h1 id="title">lumox demo</h1>
<form id="login" onsubmit="event.preventDefault();
  document.getElementById('result').textContent = 'hello ' + this.username.value;">
  <input name="username" id="username" placeholder="用户名">
  <button type="submit" id="submit">登录</button>
</form>
<p id="result"></p>
<ul class="items"><li>one</li><li>two</li><li>three</li></ul>
</body></html>
"""

# The web demo's login page: it signs in through /api/login like the API cases do.
LOGIN_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>lumox 登录</title></head>
<body>
<h1>lumox 登录</h1>
<form id="login-form">
  <input id="username" name="username" placeholder="用户名">
  <input id="password" name="password" type="password" placeholder="密码">
  <button id="login" type="submit">登录</button>
</form>
<p id="message"></p>
<script>
document.getElementById("login-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const username = document.getElementById("username").value;
  const password = document.getElementById("password").value;
  const message = document.getElementById("message");
  message.textContent = "";
  message.removeAttribute("data-token");
  let reply = null;
  try {
    const response = await fetch("/api/login", {
      method: "POST",
      headers: {"Content-Type": "application/json"},
      body: JSON.stringify({username, password}),
    });
    if (response.ok) reply = await response.json();
  } catch (error) {
    reply = null;
  }
  if (reply && reply.code === 0) {
    // Text last: whoever waits for the text then finds the token and title set too.
    message.setAttribute("data-token", reply.token);
    document.title = "lumox 首页";
    message.textContent = "欢迎，" + username;
  } else {
    message.textContent = "用户名或密码错误";
  }
});
</script>
</body></html>
"""

# The web demo's settings form: a list, a checkbox and a field; saving (the button, or
# Enter in the field) shows what was chosen.
SETTINGS_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>lumox 设置</title></head>
<body>
<form id="settings">
  <select id="plan"><option>Free</option><option>Pro</option><option>Team</option></select>
  <label><input id="news" type="checkbox"> news</label>
  <input id="nickname" value="old">
  <button id="save" type="submit">保存</button>
</form>
<p id="summary"></p>
<script>
document.getElementById("settings").addEventListener("submit", (event) => {
  event.preventDefault();
  document.getElementById("summary").textContent =
    "plan=" + document.getElementById("plan").value +
    ", news=" + (document.getElementById("news").checked ? "yes" : "no") +
    ", nickname=" + document.getElementById("nickname").value;
});
</script>
</body></html>
"""


class Handler(BaseHTTPRequestHandler):
    server_version = "lumox-demo/1.0"
    protocol_version = "HTTP/1.1"
    # Write each response in one piece: keep-alive clients otherwise wait on Nagle.
    wbufsize = -1

    def log_message(self, format, *args):  # keep test output quiet
        pass

    # -- plumbing -----------------------------------------------------------------
    def _body(self) -> bytes:
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _send(self, status, payload=None, content_type="application/json", headers=()):
        if payload is None:
            data = b""
        elif isinstance(payload, (bytes, str)):
            data = payload.encode() if isinstance(payload, str) else payload
        else:
            data = json.dumps(payload, ensure_ascii=False).encode()
        self.send_response(status)
        if data or content_type != "application/json":
            self.send_header("Content-Type", content_type + "; charset=utf-8")
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _cookies(self) -> dict:
        jar = SimpleCookie(self.headers.get("Cookie") or "")
        return {key: morsel.value for key, morsel in jar.items()}

    def _route(self):
        url = urlsplit(self.path)
        query = {k: v[0] if len(v) == 1 else v for k, v in parse_qs(url.query).items()}
        body = self._body()
        path = url.path.rstrip("/") or "/"
        handler = ROUTES.get(path)
        if handler is None and path.startswith("/api/status/"):
            handler = Handler.status
        if handler is None:
            return self._send(404, {"code": 404, "msg": f"no route {path}"})
        return handler(self, query, body)

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = _route

    # -- routes -------------------------------------------------------------------
    def health(self, query, body):
        self._send(200, {"status": "ok"})

    def login(self, query, body):
        try:
            data = json.loads(body or b"{}")
        except ValueError:
            return self._send(400, {"code": 400, "msg": "body is not JSON"})
        user, password = data.get("username"), data.get("password")
        if USERS.get(user) != password:
            return self._send(401, {"code": 1, "msg": "bad credentials"})
        with JOBS_LOCK:
            LOGINS["count"] += 1
        self._send(200, {"code": 0, "token": f"tok-{user}", "user": {"id": 1, "name": user}},
                   headers=[("Set-Cookie", f"session=s-{list(USERS).index(user) + 1}; Path=/")])

    def profile(self, query, body):
        auth = self.headers.get("Authorization", "")
        user = auth.removeprefix("Bearer tok-") if auth.startswith("Bearer tok-") else None
        if user not in USERS:
            return self._send(401, {"code": 1, "msg": "login required"})
        self._send(200, {"code": 0, "name": user, "roles": ["tester", "admin"]})

    def items(self, query, body):
        self._send(200, ITEMS)

    def echo(self, query, body):
        text = body.decode("utf-8", "replace")
        try:
            parsed = json.loads(body) if body else None
        except ValueError:
            parsed = None
        form = {}
        if self.headers.get_content_type() == "application/x-www-form-urlencoded":
            form = {k: v[0] for k, v in parse_qs(text).items()}
        self._send(200, {
            "method": self.command,
            "path": urlsplit(self.path).path,
            "query": query,
            "headers": {k.lower(): v for k, v in self.headers.items()},
            "cookies": self._cookies(),
            "json": parsed,
            "form": form,
            "body": text,
        })

    def upload(self, query, body):
        head = f"Content-Type: {self.headers.get('Content-Type')}\r\n\r\n".encode()
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + body)
        if not message.is_multipart():
            return self._send(400, {"code": 400, "msg": "expected multipart/form-data"})
        files, fields = {}, {}
        for part in message.iter_parts():
            name = part.get_param("name", header="content-disposition")
            content = part.get_payload(decode=True) or b""
            if part.get_filename() is not None:
                files[name] = {"filename": part.get_filename(), "size": len(content)}
            else:
                fields[name] = content.decode()
        self._send(200, {"code": 0, "files": files, "fields": fields})

    def text(self, query, body):
        self._send(200, "order 1001 shipped; order 1002 pending", content_type="text/plain")

    def status(self, query, body):
        code = int(urlsplit(self.path).path.rsplit("/", 1)[-1])
        self._send(code, None if code in (204, 304) else {"status": code})

    def redirect(self, query, body):
        self._send(302, None, headers=[("Location", query.get("to", "/api/health"))])

    def set_cookies(self, query, body):
        headers = [("Set-Cookie", f"{k}={v}; Path=/") for k, v in query.items()]
        self._send(200, {"set": query}, headers=headers)

    def cookies(self, query, body):
        self._send(200, {"cookies": self._cookies()})

    def slow(self, query, body):
        time.sleep(min(float(query.get("seconds", 1)), 5.0))
        self._send(200, {"status": "late"})

    def page(self, query, body):
        self._send(200, PAGE, content_type="text/html")

    def web_login(self, query, body):
        self._send(200, LOGIN_PAGE, content_type="text/html")

    def job(self, query, body):
        """An asynchronous job: "pending" for the first `pending` polls (3) of an id, then
        "done"."""
        job_id = query.get("id", "job")
        with JOBS_LOCK:
            JOBS[job_id] = polls = JOBS.get(job_id, 0) + 1
        done = polls > int(query.get("pending", 3))
        self._send(200, {"id": job_id, "status": "done" if done else "pending", "polls": polls})

    def logins(self, query, body):
        with JOBS_LOCK:
            self._send(200, {"count": LOGINS["count"]})

    def web_settings(self, query, body):
        self._send(200, SETTINGS_PAGE, content_type="text/html")


ROUTES = {
    "/api/health": Handler.health,
    "/api/login": Handler.login,
    "/api/profile": Handler.profile,
    "/api/items": Handler.items,
    "/api/echo": Handler.echo,
    "/api/upload": Handler.upload,
    "/api/text": Handler.text,
    "/api/redirect": Handler.redirect,
    "/api/cookies/set": Handler.set_cookies,
    "/api/cookies": Handler.cookies,
    "/api/slow": Handler.slow,
    "/api/job": Handler.job,
    "/api/logins": Handler.logins,
    "/page": Handler.page,
    "/web/login": Handler.web_login,
    "/web/settings": Handler.web_settings,
}


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def server_bind(self):
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().server_bind()


def serve_in_thread(port: int = 0) -> tuple[Server, str]:
    """Start the service on 127.0.0.1 in a daemon thread; returns it and its base URL."""
    server = Server(("127.0.0.1", port), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=8765)
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    print(f"lumox demo service on http://127.0.0.1:{args.port}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
