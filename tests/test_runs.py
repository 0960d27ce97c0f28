"""One run over several processes: shards, a run_once login, merged results, one summary."""

import json
import subprocess
import sys
import textwrap
import threading
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import httpx

from notify_endpoints import Robots
from report_steps import written_results
from test_cmd import ALLURE
from test_workbooks import HEADER, write_workbook

LOGIN = """
test_name: login
marks: [run_once]
steps:
  - request: {method: POST, url: /api/login, json: {username: alice, password: secret}}
    response: {status_code: 200}
    extract: {token: [json, $.token]}
"""

PROFILE = """
test_name: profile {n}
steps:
  - request: {{method: GET, url: /api/profile, headers: {{Authorization: "Bearer {{{{ token }}}}"}}}}
    response: {{status_code: {status}}}
"""  # noqa: E501  (test data)


def run_shards(pytester, parts, run_id="run-1"):
    """The shards of one run, as processes side by side; their exit statuses."""
    shards = [subprocess.Popen(
        [sys.executable, "-m", "pytest", "-p", "no:cacheprovider", f"--shard={part}/{parts}",
         f"--share-dir={pytester.path / 'share'}", f"--run-id={run_id}",
         f"--alluredir={run_id}-results-{part}", "--no-notify"],
        cwd=pytester.path, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        for part in range(1, parts + 1)]
    outputs = [shard.communicate(timeout=120)[0] for shard in shards]
    return [shard.returncode for shard in shards], outputs


def test_four_shards_log_in_once_and_give_one_report_and_one_summary(pytester, http_service):
    robots = Robots()
    try:
        (pytester.path / "pytest.ini").write_text(textwrap.dedent(f"""\
            [pytest]
            [lumox]
            qywx_url = {robots.base}/ok/qywx
            allure_path = {ALLURE}
            [lumox_api]
            base_url = {http_service}
            """), encoding="utf-8")
        pytester.makefile(".yaml", test_00_login=LOGIN)
        cases = {}
        for n in range(1, 9):
            cases[f"test_{n:02d}_profile"] = PROFILE.format(n=n, status=201 if n == 5 else 200)
        pytester.makefile(".yaml", **cases)
        # A browser row that fails: its screenshot must reach the merged report.
        write_workbook(pytester.path / "test_09_web.xlsx", {"web": [
            HEADER, [1, "打开浏览器", "new_driver"], [2, "打开登录页", "goto", "/web/login"],
            [3, "等不存在的元素", "wait_visible", "nothing ;; ID", 0.5]]})
        logins_before = httpx.get(f"{http_service}/api/logins").json()["count"]

        statuses, outputs = run_shards(pytester, 4)
        # The login ran in one process; the others waited and took its token.
        assert httpx.get(f"{http_service}/api/logins").json()["count"] == logins_before + 1
        assert set(statuses) <= {0, 1} and statuses.count(1) >= 1, outputs
        assert all("lumox shard" in out and "(no durations yet: by count)" in out
                   for out in outputs)
        ran = {}
        for part in range(1, 5):
            for result in written_results(pytester.path / f"run-1-results-{part}"):
                ran.setdefault(result["name"], []).append((part, result["status"]))
        # Every case ran in exactly one shard; the login is in all four, run by one.
        assert sorted(ran) == ["login"] + [f"profile {n}" for n in range(1, 9)] + ["web"]
        assert all(len(ran[f"profile {n}"]) == 1 for n in range(1, 9))
        assert sorted(status for _, status in ran["login"]) == ["passed"] + ["skipped"] * 3

        merged = subprocess.run([sys.executable, "-m", "lumox", "merge",
                                 *(f"run-1-results-{part}" for part in range(1, 5)),
                                 "--into", "merged"],
                                cwd=pytester.path, capture_output=True, text=True)
        assert merged.returncode == 0, merged.stderr
        assert "4 folder(s), 10 case(s) run: 8 passed, 2 failed" in merged.stdout
        results = written_results(pytester.path / "merged")
        assert len(results) == 13  # 8 profiles, the browser case, the login four times
        # Each result's attachments (the HTTP exchange of every step) came along.
        def attachments(step):
            yield from step.get("attachments", [])
            for inner in step.get("steps", []):
                yield from attachments(inner)
        found = [a for r in results for a in attachments(r)]
        assert len(found) >= 18
        assert all((pytester.path / "merged" / a["source"]).is_file() for a in found)
        (web,) = [r for r in results if r["name"] == "web"]
        assert any(a["type"] == "image/png" for a in attachments(web))
        # One HTML report of the whole run, the screenshot in it.
        built = subprocess.run([sys.executable, "-m", "lumox", "report", "--alluredir=merged"],
                               cwd=pytester.path, capture_output=True, text=True)
        assert built.returncode == 0, built.stdout + built.stderr
        shown = [json.loads(p.read_text(encoding="utf-8"))
                 for p in (pytester.path / "report" / "data" / "test-cases").glob("*.json")]
        assert {c["name"] for c in shown} == set(ran)
        (web,) = [c for c in shown if c["name"] == "web"]
        assert any(a["type"] == "image/png" for a in attachments(web["testStage"]))

        notified = subprocess.run([sys.executable, "-m", "lumox", "notify", "merged"],
                                  cwd=pytester.path, capture_output=True, text=True)
        assert notified.returncode == 0, notified.stderr
        (notice,) = [r for r in robots.requests if r["path"].startswith("/ok/qywx")]
        text = notice["json"]["markdown"]["content"]
        for line in ('用例总数: <font color="black">10</font>',
                     '本次运行数： <font color="black">10</font>',
                     '测试通过数： <font color="green">8</font>',
                     '测试失败数： <font color="orange">2</font>',
                     '跳过用例数： <font color="grey">0</font>', "test_05_profile.yaml::profile 5"):
            assert line in text

        # A failed run_once case counts once, in the shard that ran it, not in every one.
        (pytester.path / "test_09_web.xlsx").unlink()
        pytester.makefile(".yaml", test_00_login=LOGIN.replace("secret", "wrong"))
        run_shards(pytester, 2, run_id="run-2")
        subprocess.run([sys.executable, "-m", "lumox", "notify", "run-2-results-1",
                        "run-2-results-2"], cwd=pytester.path, check=True)
        text = [r for r in robots.requests if r["path"].startswith("/ok/qywx")][1]["json"]
        assert ('测试失败数： <font color="orange">9</font>' in text["markdown"]["content"] and
                '测试出错数： <font color="red">0</font>' in text["markdown"]["content"])

        # The durations a run stored balance the next split by time.
        pytester.runpytest_subprocess("-p", "no:cacheprovider", "--store-durations")
        durations = json.loads((pytester.path / ".lumox-durations.json").read_text())
        assert len(durations) == 9
        again = pytester.runpytest_subprocess("-p", "no:cacheprovider", "--shard=2/3", "--co",
                                              "-q")
        again.stdout.fnmatch_lines(["lumox shard 2/3: * cases, about * s of * s by earlier "
                                    "durations; 1 run_once case(s) in every part"])
        bad = pytester.runpytest_subprocess("-p", "no:cacheprovider", "--shard=5/4")
        bad.stderr.fnmatch_lines(
            ["*--shard 5/4: the part must be from 1 to the number of parts (4)"])
        # A share folder without a run id would hand this run the outcomes of the last one.
        stale = pytester.runpytest_subprocess("-p", "no:cacheprovider", "--share-dir=share")
        stale.stderr.fnmatch_lines(["ERROR: --share-dir needs --run-id (or LUMOX_RUN_ID)*"])
    finally:
        robots.stop()


class GridHub:
    """A loopback stand-in for a Selenium Grid 4 hub with `slots` slots: /status tells the
    free ones, POST /session refuses a session beyond them."""

    def __init__(self, slots=2):
        hub = self
        self.slots = slots
        self.sessions = set()
        self.lock = threading.Lock()
        self.created = self.refused = self.full_answers = self.most_at_once = 0

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, value):
                body = json.dumps({"value": value}).encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self):
                with hub.lock:
                    taken = list(hub.sessions)
                    hub.full_answers += len(taken) >= hub.slots
                slots = [{"session": {"sessionId": s} if s else None}
                         for s in taken + [None] * (hub.slots - len(taken))]
                self.answer(200, {"ready": len(taken) < hub.slots,
                                  "nodes": [{"availability": "UP", "slots": slots}]})

            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                with hub.lock:
                    if len(hub.sessions) >= hub.slots:
                        hub.refused += 1
                        refused = True
                    else:
                        refused = False
                        session = uuid.uuid4().hex
                        hub.sessions.add(session)
                        hub.created += 1
                        hub.most_at_once = max(hub.most_at_once, len(hub.sessions))
                if refused:
                    return self.answer(500, {"error": "session not created",
                                             "message": "no free slot", "stacktrace": ""})
                self.answer(200, {"sessionId": session, "capabilities": {"browserName": "chrome"}})

            def do_DELETE(self):
                with hub.lock:
                    hub.sessions.discard(self.path.rsplit("/", 1)[-1])
                self.answer(200, None)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


GRID_CASES = """
import time

import pytest

from lumox.webdriver import get_webdriver


@pytest.mark.parametrize("n", range(4))
def test_a_session_on_the_full_grid(n):
    driver = get_webdriver("chrome", hub="{url}")
    time.sleep(2)
    driver.quit()


def test_one_process_keeps_to_its_sessions():
    driver = get_webdriver("chrome", hub="{url}")
    with pytest.raises(ValueError, match="lumox_ui.max_sessions = 1: this process has 1 "
                                         "remote session"):
        get_webdriver("chrome", hub="{url}")
    driver.quit()
"""


def test_workers_wait_for_a_free_slot_of_the_grid_instead_of_failing(pytester):
    hub = GridHub(slots=2)
    try:
        (pytester.path / "pytest.ini").write_text(
            "[pytest]\n[lumox_ui]\nwait_poll = 0.05\ngrid_wait = 60\nmax_sessions = 1\n")
        pytester.makepyfile(test_grid=GRID_CASES.replace("{url}", hub.url))
        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-n", "4")
        result.assert_outcomes(passed=5)
        # Five sessions in all, never more than the two slots at once, and the ones that found
        # the grid full waited (or were refused and tried again) instead of failing.
        assert (hub.created, hub.most_at_once) == (5, 2)
        assert hub.full_answers + hub.refused > 0
    finally:
        hub.stop()
