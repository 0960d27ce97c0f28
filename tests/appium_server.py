"""A real Appium server on loopback for the App keyword tests: Appium's fake driver plus our
lumox-emulator plug-in (tests/appium_emulator), which answers the emulator commands the fake
driver lacks and keeps what every session received, readable after the session has ended.

All of it comes from package-lock.json (`npm ci` at the repository root)."""

from __future__ import annotations

import json
import os
import shutil
import signal
import subprocess
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET
from pathlib import Path

from notify_endpoints import free_port

ROOT = Path(__file__).resolve().parent.parent
APPIUM = ROOT / "node_modules" / ".bin" / "appium"
PLUGIN = "lumox-emulator"
INSTALL_HINT = "run `npm ci` at the repository root (or `make node-packages`)"

# Capabilities W3C defines keep their names; every other one needs a vendor prefix.
W3C_CAPABILITIES = {
    "browserName", "browserVersion", "platformName", "acceptInsecureCerts", "pageLoadStrategy",
    "proxy", "setWindowRect", "timeouts", "strictFileInteractability", "unhandledPromptBehavior",
    "webSocketUrl",
}

# The fake driver's app: any tag is an element, `id` answers both the id and the accessibility
# id strategies, left/top/width/height give its rect (a 1080x1920 portrait screen). Only a
# MockInputField takes text, and the first child of MockWebView is the WEBVIEW_1 document.
DEFAULT_APP = """\
<app width="1080" height="1920">
  <MockText id="title" left="40" top="80" width="1000" height="100">Lumox demo</MockText>
  <MockInputField id="user" left="40" top="240" width="1000" height="120"/>
  <MockInputField id="password" left="40" top="400" width="1000" height="120"/>
  <MockButton id="login" left="340" top="580" width="400" height="140">Log in</MockButton>
  <MockButton id="disabled" left="340" top="760" width="400" height="100" enabled="false">Later</MockButton>
  <MockText id="hidden" left="40" top="880" width="1000" height="40" visible="false">hidden</MockText>
  <MockList id="list" left="0" top="960" width="1080" height="600">
    <MockListItem id="item1" left="0" top="960" width="1080" height="200">One</MockListItem>
    <MockListItem id="item2" left="0" top="1160" width="1080" height="200">Two</MockListItem>
    <MockListItem id="item3" left="0" top="1360" width="1080" height="200">Three</MockListItem>
  </MockList>
  <MockWebView id="web" left="0" top="1700" width="1080" height="220">
    <html>
      <head><title>Lumox web</title></head>
      <body><p id="greeting">Hello from the web view</p></body>
    </html>
  </MockWebView>
</app>
"""  # noqa: E501  (test data)


class AppiumNotInstalled(RuntimeError):
    """node_modules lacks Appium, or there is no Node.js to run it."""


def write_app(path, xml=DEFAULT_APP):
    """Writes an app description for the fake driver; returns its absolute path as a string,
    as the `appium:app` capability wants it."""
    path = Path(path).resolve()
    path.write_text(xml, encoding="utf-8")
    return str(path)


def app_rect(element_id, xml=DEFAULT_APP):
    """The rect the fake driver reports for an element of the app: {x, y, width, height}."""
    for node in ET.fromstring(xml).iter():
        if node.get("id") == element_id:
            return {"x": int(node.get("left", 0)), "y": int(node.get("top", 0)),
                    "width": int(node.get("width", 0)), "height": int(node.get("height", 0))}
    raise KeyError(f"no element with id {element_id!r} in the app")


def capabilities(app_path, **extra):
    """Capabilities of a fake-driver session on the given app, ready for JSON. Extra names
    get the `appium:` prefix unless W3C defines them or they carry a prefix already, so
    capabilities(app, appPackage="io.lumox.demo", lumoxShakeChangesAfter=3) works."""
    caps = {"platformName": "Fake", "appium:automationName": "Fake",
            "appium:app": str(app_path)}
    for name, value in extra.items():
        caps[name if ":" in name or name in W3C_CAPABILITIES else f"appium:{name}"] = value
    return caps


def _get_json(url, timeout=5.0):
    with urllib.request.urlopen(url, timeout=timeout) as answer:
        return json.loads(answer.read())


class AppiumServer:
    """One Appium process (and whatever it starts) in a process group of its own, logging to
    `log_path`. Use as a context manager, or start() and stop()."""

    def __init__(self, log_dir, port=None, startup_timeout=60.0):
        self.log_path = Path(log_dir) / "appium.log"
        self.port = port or free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.startup_timeout = startup_timeout
        self.startup_seconds = None
        self.process = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        if not APPIUM.exists():
            raise AppiumNotInstalled(f"{APPIUM} is missing: {INSTALL_HINT}")
        if shutil.which("node") is None:
            raise AppiumNotInstalled("Node.js (`node`) is not on PATH: Appium runs on it")
        self.log_path.parent.mkdir(parents=True, exist_ok=True)
        # APPIUM_HOME is the folder holding node_modules: Appium finds the fake driver and
        # the plug-in (a file: dependency of package.json) there.
        env = {**os.environ, "APPIUM_HOME": str(ROOT)}
        began = time.monotonic()
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                [str(APPIUM), "server", "--address", "127.0.0.1", "--port", str(self.port),
                 f"--use-plugins={PLUGIN}", "--log-no-colors", "--log-timestamp"],
                cwd=ROOT, env=env, stdin=subprocess.DEVNULL, stdout=log,
                stderr=subprocess.STDOUT, start_new_session=True)
        try:
            self._wait_until_ready()
        except BaseException:
            self.stop()
            raise
        self.startup_seconds = time.monotonic() - began

    def _wait_until_ready(self):
        deadline = time.monotonic() + self.startup_timeout
        while True:
            if self.process.poll() is not None:
                raise RuntimeError(f"Appium exited with status {self.process.returncode} before "
                                   f"it was ready; the end of {self.log_path}:\n{self.log_tail()}")
            # Someone else may answer on the port: ready is when our log says it listens.
            if self._listening():
                try:
                    if _get_json(f"{self.url}/status", timeout=2)["value"].get("ready"):
                        return
                except (OSError, ValueError, KeyError):
                    pass
            if time.monotonic() > deadline:
                raise RuntimeError(f"Appium did not answer /status within {self.startup_timeout} s;"
                                   f" the end of {self.log_path}:\n{self.log_tail()}")
            time.sleep(0.1)

    def _listening(self):
        try:
            log = self.log_path.read_text(errors="replace")
        except OSError:
            return False
        return f"listener started on {self.url}" in log

    def stop(self, patience=10.0):
        """Ends the process group Appium leads, gently first; waits for the leader."""
        if self.process is None:
            return
        for sig, wait in ((signal.SIGTERM, patience), (signal.SIGKILL, None)):
            try:
                os.killpg(self.process.pid, sig)
            except ProcessLookupError:
                pass  # the whole group has gone already
            try:
                self.process.wait(wait)
                break
            except subprocess.TimeoutExpired:
                continue
        try:
            os.killpg(self.process.pid, signal.SIGKILL)  # anything the leader left behind
        except ProcessLookupError:
            pass
        self.process = None

    def log_tail(self, lines=40):
        try:
            return "\n".join(self.log_path.read_text(errors="replace").splitlines()[-lines:])
        except OSError:
            return "(no log)"

    def sessions(self):
        """What the plug-in kept of every session this server has had, oldest first, ended
        ones too: dicts of sessionId, capabilities (as requested), actions (the W3C action
        requests, each the list of input sources as received), emulator (the `mobile:`
        scripts the plug-in answered, each {script, args}), package, activity and ended."""
        return _get_json(f"{self.url}/lumox/sessions")

    def session(self, session_id=None):
        """The record of one session; without an id, of the one created last."""
        records = self.sessions()
        if session_id is None:
            if not records:
                raise KeyError("this Appium server has had no session yet")
            return records[-1]
        for record in records:
            if record["sessionId"] == session_id:
                return record
        raise KeyError(f"no session {session_id!r}; known: {[r['sessionId'] for r in records]}")

    def actions(self, session_id=None):
        """The W3C action requests of a session, in order: each a list of input sources."""
        return self.session(session_id)["actions"]

    def pointer_actions(self, session_id=None):
        """Every action of every pointer source of a session, in the order received (request
        by request, source by source). Multi-touch gestures interleave: read actions() then."""
        return [action for request in self.actions(session_id) for source in request
                if source.get("type") == "pointer" for action in source.get("actions", [])]

    def emulator_calls(self, session_id=None, script=None):
        """The `mobile:` scripts the plug-in answered for a session, optionally only those of
        one name (spacing after `mobile:` does not matter)."""
        calls = self.session(session_id)["emulator"]
        if script is None:
            return calls
        return [call for call in calls if _script_name(call["script"]) == _script_name(script)]


def _script_name(script):
    return script.replace("mobile:", "", 1).strip() if script.startswith("mobile:") else script
