"""The YAML step hook body (lumox.steps.run_step) and the run-end save of variables."""

import gc
import json
import logging
from types import SimpleNamespace

import httpx
import pytest

from lumox import settings, steps
from lumox.responses import validator
from lumox.templates import env_globals
from open_files import open_paths
from report_steps import written_results
from test_workbooks import write_workbook


@pytest.fixture
def step_log(caplog):
    caplog.set_level(logging.INFO)
    return caplog


def step_lines(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "lumox._plugin"]


def http_lines(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "lumox.http"]


def run(item, step):
    item.current_step = step
    return steps.run_step(item, None)


@pytest.fixture
def item():
    return SimpleNamespace(current_step=None, resp=None)


class TestKeyOrder:
    def test_request_extract_validate_in_the_order_written(self, item, http_service, step_log):
        step = {
            "request": {"method": "POST", "url": f"{http_service}/api/echo", "json": {"n": 7}},
            "extract": {"echo_method": ["json", "$.method"], "echo_n": ["json", "$.json.n"]},
            "validate": {"echo_method": "POST", "echo_n": "7"},
        }
        assert run(item, step) == 1
        assert isinstance(item.resp, httpx.Response)
        assert (env_globals["echo_method"], env_globals["echo_n"]) == ("POST", 7)
        assert step_lines(step_log) == [
            "step: 发送请求...", "step: 提取变量...", "step: 断言变量..."]

    def test_extract_before_request_reads_the_previous_response(self, item, http_service,
                                                                 step_log):
        run(item, {"request": {"method": "GET", "url": f"{http_service}/api/echo"}})
        step_log.clear()
        run(item, {
            "extract": {"before": ["json", "$.method"]},
            "request": {"method": "PUT", "url": f"{http_service}/api/echo"},
            "validate": {"before": "GET"},
        })
        assert item.resp.json()["method"] == "PUT"
        assert step_lines(step_log) == [
            "step: 提取变量...", "step: 发送请求...", "step: 断言变量..."]

    def test_mock_only_logs_and_keeps_the_last_response(self, item, http_service, step_log):
        run(item, {"request": {"method": "GET", "url": f"{http_service}/api/items"}})
        previous = item.resp
        step_log.clear()
        assert run(item, {"mock": {"status_code": 500}}) == 1
        assert item.resp is previous
        assert step_lines(step_log) == ["step: mock HTTP"]
        assert http_lines(step_log) == []

    def test_unknown_keys_and_empty_steps_do_nothing(self, item, step_log):
        assert run(item, {}) == 1
        assert run(item, {"name": "only a title", "skip": True, 3: "x"}) == 1
        assert item.resp is None
        assert not [r for r in step_log.records if r.name.startswith("lumox")]

    def test_a_failing_key_stops_the_step(self, item, http_service, step_log):
        with pytest.raises(AssertionError):
            run(item, {
                "request": {"method": "GET", "url": f"{http_service}/api/text"},
                "validate": {"never_set_variable": "something else"},
                "mock": {},
            })
        assert "step: mock HTTP" not in step_lines(step_log)


class TestRequest:
    def test_uploads_are_sent_and_closed_and_the_step_keeps_its_paths(self, item, http_service,
                                                                       tmp_path):
        report = tmp_path / "report.txt"
        report.write_bytes(b"12345")
        section = {"method": "POST", "url": f"{http_service}/api/upload",
                   "data": {"title": "周报"}, "files": {"attachment": str(report)}}
        run(item, {"request": section})
        assert item.resp.json()["files"] == {"attachment": {"filename": "report.txt", "size": 5}}
        assert section["files"] == {"attachment": str(report)}
        assert str(report) not in open_paths()

        # The same step runs again unchanged (a rendered step may be reused).
        run(item, {"request": section})
        assert item.resp.status_code == 200

    def test_uploads_are_closed_when_sending_fails(self, item, closed_port, tmp_path):
        upload = tmp_path / "a.txt"
        upload.write_text("a")
        with pytest.raises(httpx.ConnectError):
            run(item, {"request": {"method": "POST", "url": f"http://127.0.0.1:{closed_port}/",
                                   "files": {"file": str(upload)}}})
        assert str(upload) not in open_paths()
        assert item.resp is None

    def test_missing_upload_fails_and_closes_the_ones_already_opened(self, item, http_service,
                                                                      tmp_path):
        present = tmp_path / "present.txt"
        present.write_text("p")
        with pytest.raises(FileNotFoundError):
            run(item, {"request": {"method": "POST", "url": f"{http_service}/api/upload",
                                   "files": {"a": str(present), "b": str(tmp_path / "gone")}}})
        assert str(present) not in open_paths()

    def test_sections_of_the_wrong_shape_are_type_errors(self, item, http_service):
        with pytest.raises(TypeError, match="'request' section of a step must be a mapping"):
            run(item, {"request": ["GET", f"{http_service}/api/items"]})
        with pytest.raises(TypeError, match="'request.files' must be a mapping"):
            run(item, {"request": {"method": "POST", "url": f"{http_service}/api/upload",
                                   "files": ["a.txt"]}})
        run(item, {"request": {"method": "GET", "url": f"{http_service}/api/text"}})
        with pytest.raises(TypeError, match="'extract' section of a step must be a mapping"):
            run(item, {"extract": [["json", "$.a"]]})
        with pytest.raises(TypeError, match="'validate' section of a step must be a mapping"):
            run(item, {"validate": "token"})


class TestResponseAndExtract:
    def test_valid_response_passes_and_invalid_fails_with_the_errors_as_json(self, item,
                                                                             http_service):
        run(item, {"request": {"method": "GET", "url": f"{http_service}/api/text"},
                   "response": {"status_code": 200, "text": {"value": "shipped",
                                                             "mode": "contains"}}})
        checks = {"status_code": 201, "text": {"value": "已发货", "mode": "contains"}}
        errors = validator(item.resp, **checks)
        assert errors
        with pytest.raises(AssertionError) as failure:
            run(item, {"response": checks})
        assert str(failure.value) == json.dumps(errors)
        assert "\\u5df2" in str(failure.value)  # non-ASCII escaped, default JSON settings

    def test_extract_lists_give_attribute_expression_and_optional_index(self, item,
                                                                         http_service):
        run(item, {"request": {"method": "GET", "url": f"{http_service}/api/text"},
                   "extract": {"first": ["text", r"order (\d+)"],
                               "second": ["text", r"order (\d+)", 1],
                               "code": ["status_code", r"\d+"]}})
        assert (env_globals["first"], env_globals["second"]) == ("1001", "1002")
        assert env_globals["code"] == "200"
        with pytest.raises(TypeError):
            run(item, {"extract": {"too_short": ["text"]}})


# -- whole runs of YAML suites ----------------------------------------------------------

# Records what the plug-in logs, including at run end, into plugin.log.
LOG_CONFTEST = """
import logging
handler = logging.FileHandler("plugin.log", encoding="utf-8")
handler.setFormatter(logging.Formatter("%(levelname)s %(message)s"))
logger = logging.getLogger("lumox._plugin")
logger.addHandler(handler)
logger.setLevel(logging.INFO)
"""

LOGIN_YAML = """
test_name: log in
steps:
  - request:
      method: POST
      url: /api/login
      json: {username: alice, password: secret}
    response:
      status_code: 200
    extract:
      token: [json, "$.token"]
      user_id: [json, "$.user.id"]
      roles_seen: [str, "none yet"]
"""

PROFILE_YAML = """
test_name: read the profile with the token of the first file
steps:
  - request:
      method: GET
      url: /api/profile
      headers: {Authorization: "Bearer {{ token }}"}
    extract:
      first_role: [json, "$.roles[0]"]
  - validate:
      first_role: tester
      token: tok-alice
---
test_name: upload a file
steps:
  - request:
      method: POST
      url: /api/upload
      data: {owner: "{{ user_id }}"}
      files: {attachment: data/upload.txt}
    response:
      json:
        $.files.attachment.filename: upload.txt
        $.fields.owner: "1"
"""

REFUSED_YAML = """
test_name: service down
steps:
  - request:
      method: GET
      url: http://127.0.0.1:{port}/api/items
---
test_name: the next case still runs
steps:
  - request:
      method: GET
      url: /api/profile
      headers: {{Authorization: "Bearer {{{{ token }}}}"}}
    response:
      status_code: 200
"""

OPEN_FILES_CHECK = """
import os

def test_uploads_were_closed():
    upload = os.path.abspath("data/upload.txt")
    held = set()
    for fd in os.listdir("/proc/self/fd"):
        try:
            held.add(os.readlink(f"/proc/self/fd/{fd}"))
        except OSError:
            pass
    assert upload not in held
"""


def write_ini(pytester, http_service, vars_file, vars_save=True):
    # Settings come from pytest.ini (makeini would write tox.ini).
    pytester.makefile(".ini", pytest=f"""
        [pytest]
        [lumox]
        vars_file = {vars_file}
        vars_save = {"true" if vars_save else "false"}
        [lumox_api]
        base_url = {http_service}
    """)
    pytester.makeconftest(LOG_CONFTEST)


def plugin_log(pytester):
    path = pytester.path / "plugin.log"
    return path.read_text(encoding="utf-8") if path.exists() else ""


FLOWS_YAML = """
login:
  params: {user: , password: secret}
  steps:
    - request: {method: POST, url: /api/login, json: {username: "{{ user }}", password: "{{ password }}"}}
      response: {status_code: 200}
      extract: {token: [json, $.token]}
    - use: profile
profile:
  steps:
    - request: {method: GET, url: /api/profile, headers: {Authorization: "Bearer {{ token }}"}}
      response: {status_code: 200}
ping:
  steps: [{use: pong}]
pong:
  steps: [{use: ping}]
job:
  steps:
    - request: {method: GET, url: "/api/job?id=flow-retry&pending=1"}
      response: {json: {$.status: done}}
echo:
  params: {word: plain}
  steps:
    - request: {method: POST, url: /api/echo, json: {word: "{{ word }}"}}
      extract: {echoed: [json, "$.json.word", 0]}
"""  # noqa: E501  (test data)

DATA_AND_FLOW_YAML = """
test_name: login over data
parameters: users.csv
steps:
  - request: {method: POST, url: /api/login, json: {username: "{{ user }}", password: "{{ password }}"}}
    response: {status_code: "{{ code }}"}
---
test_name: as alice
steps:
  - use: login
    with: {user: alice}
---
test_name: as alice again
steps:
  - use: login
    with: {user: alice, password: secret}
  - request: {method: GET, url: /api/profile, headers: {Authorization: "Bearer {{ token }}"}}
---
test_name: as bob
steps:
  - use: login
    with: {user: bob}
  - request: {method: GET, url: /api/health}
---
test_name: bad uses
steps:
  - use: logn
  - use: login
    with: {usr: x}
  - use: ping
---
test_name: inline
parameters: [{id: first, n: 1}]
steps:
  - validate: {}
---
test_name: from a sheet
parameters: {file: logins.xlsx, sheet: 登录}
steps:
  - request: {method: POST, url: /api/login, json: {username: "{{ user }}", password: "{{ password }}"}}
    response: {status_code: "{{ code }}"}
---
test_name: bad data
parameters: broken.csv
steps:
  - validate: {}
---
test_name: flow retried
steps:
  - use: job
    retry: {times: 3, delay: 0}
---
test_name: defaults and data stay where they belong
steps:
  - use: echo
    with: {word: given}
  - validate: {echoed: given}
  - use: echo
  - validate: {echoed: plain}
  - request: {method: POST, url: /api/echo, json: {user: "{{ user | default('unset') }}"}}
    response: {json: {$.json.user: unset}}
"""  # noqa: E501  (test data)

RETRY_YAML = """
test_name: poll until done
steps:
  - request: {method: GET, url: "/api/job?id=until"}
    retry: {times: 5, delay: 0.05, backoff: 2, until: {json: {$.status: done}}}
    response: {json: {$.polls: "4"}}
---
test_name: the step's own checks, retried
steps:
  - request: {method: GET, url: "/api/job?id=own&pending=1"}
    response: {json: {$.status: done}}
    retry: 3
---
test_name: first try
steps:
  - request: {method: GET, url: "/api/job?id=first&pending=0"}
    response: {json: {$.status: done}}
    retry: {times: 3, delay: 0}
---
test_name: gives up
steps:
  - request: {method: GET, url: "/api/job?id=never&pending=9"}
    retry: {times: 2, delay: 0, until: {json: {$.status: done}}}
---
test_name: no retry
steps:
  - request: {method: GET, url: "/api/job?id=plain"}
    response: {json: {$.status: done}}
---
test_name: bad retry
steps:
  - request: {method: GET, url: "/api/job?id=bad"}
    retry: {times: 0}
"""


class TestYamlSuites:
    def test_retry_polls_until_the_check_holds_and_lists_every_try(self, pytester,
                                                                     http_service):
        write_ini(pytester, http_service, "")
        pytester.makefile(".yaml", test_jobs=RETRY_YAML)
        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "--alluredir=allure",
                                               "-rf")
        # A retry of no tries is refused with the file, as other broken steps are.
        result.assert_outcomes(passed=3, failed=2, errors=1)
        result.stdout.fnmatch_lines([
            "*retry: the step did not pass in 2 tries",
            "*try 1: AssertionError: until: *expected to match 'done', got 'pending'*",
            "*try 2: AssertionError: until: *",
        ])
        out = result.stdout.str()
        assert "case 'bad retry', step 1: retry.times must be 1 or more, got int 0" in out
        assert "expected to match 'done', got 'pending'" in out  # no retry: fails at once
        results = {r["name"]: r for r in written_results(pytester.path / "allure")}
        tries = results["poll until done"]["steps"][0]["steps"]
        # Each try a step of its own; the step's own check runs once, on the answer that held.
        assert [t["name"] for t in tries] == [f"第{n}次尝试" for n in (1, 2, 3, 4)] + ["验证响应"]
        assert [t["status"] for t in tries] == ["failed"] * 3 + ["passed"] * 2
        tags = {name: {label["value"] for label in r["labels"] if label["name"] == "tag"}
                for name, r in results.items()}
        assert "flaky" in tags["poll until done"]
        assert "flaky" in tags["the step's own checks, retried"]
        assert "flaky" not in tags["first try"]

    def test_cases_run_over_data_rows_and_call_flows_with_parameters(self, pytester,
                                                                     http_service):
        write_ini(pytester, http_service, "")
        pytester.makefile(".yaml", flows=FLOWS_YAML)
        (pytester.path / "cases").mkdir()
        (pytester.path / "cases" / "users.csv").write_text(
            "user,password,code\nalice,secret,200\n张三,密码,200\nbob,secret,200\n",
            encoding="utf-8")
        (pytester.path / "cases" / "broken.csv").write_text("a,b\n1,2\n1,2,3\n")
        write_workbook(pytester.path / "cases" / "logins.xlsx",
                       {"notes": [["not this one"]],
                        "登录": [["user", "password", "code", None, "ignored"],
                                 ["alice", "secret", 200]]})
        (pytester.path / "cases" / "test_users.yaml").write_text(DATA_AND_FLOW_YAML,
                                                                 encoding="utf-8")
        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "--alluredir=allure",
                                               "-v", "-rf")
        result.assert_outcomes(passed=8, failed=2, errors=2)
        out = result.stdout.str()
        # One item per row, named by its values; the password column stays out of ids.
        for passed in ("login over data[alice-200]", "login over data[张三-200]",
                       "as alice", "as alice again", "inline[first]", "from a sheet[alice-200]",
                       "defaults and data stay where they belong"):
            assert f"cases/test_users.yaml::{passed} PASSED" in out
        result.stdout.fnmatch_lines([
            "YAML case 'login over data?bob-200?' failed at step 1 of 1 (*)",
            "data: users.csv, row 4 (user='bob', password='***', code=200)",
        ])
        # A failure inside a flow names the call, the flow's step and the calling case.
        result.stdout.fnmatch_lines([
            "YAML case 'as bob' failed at step 1 of 2 (cases/test_users.yaml, line *)",
            "step 1 uses flow 'login' (flows.yaml), which failed at its step 1 of 2",
            "step 1 of flow 'login' as rendered:",
            "*username: bob",
            "*expected 200, got 401*",
        ])
        for problem in ("step 1: no flow 'logn' (flows: login, profile, ping, pong, job, echo), "
                        "did you mean 'login'?",
                        "step 2: flow 'login' has no parameter 'usr' (its parameters: user, "
                        "password), did you mean 'user'?",
                        "step 2: flow 'login' needs 'user' in with (it has no default)",
                        "step 3: flow 'ping' calls itself (ping -> pong -> ping, at flows.yaml, "
                        "flow 'pong', step 1)",
                        "case 'bad data': broken.csv: row 3: 3 values for 2 columns (a, b)"):
            assert problem in out
        results = {r["name"]: r for r in written_results(pytester.path / "allure")}
        call = results["as alice"]["steps"][0]
        # The flow's steps nest in the calling step, the flow it calls in turn in its own.
        assert call["name"] == "1 use login"
        assert [s["name"] for s in call["steps"]] == [
            "login 1 POST /api/login", "login 2 use profile"]
        assert call["steps"][1]["steps"][0]["name"] == "profile 1 GET /api/profile"
        # A flow called with retry: each try calls it once more, and the case is flaky.
        tries = results["flow retried"]["steps"][0]["steps"]
        assert [(t["name"], t["status"]) for t in tries] == [("第1次尝试", "failed"),
                                                             ("第2次尝试", "passed")]
        assert tries[1]["steps"][0]["name"] == "job 1 GET /api/job?id=flow-retry&pending=1"
        assert {"name": "tag", "value": "flaky"} in results["flow retried"]["labels"]

    def test_suite_runs_with_variables_across_files_and_saves_them(self, pytester, http_service,
                                                                   closed_port):
        write_ini(pytester, http_service, "vars.yaml")
        (pytester.path / "data").mkdir()
        (pytester.path / "data" / "upload.txt").write_text("hello upload")
        pytester.makefile(".yaml", test_01_login=LOGIN_YAML, test_02_profile=PROFILE_YAML,
                          test_03_refused=REFUSED_YAML.format(port=closed_port))
        pytester.makepyfile(test_zz_open_files=OPEN_FILES_CHECK)

        result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
        result.assert_outcomes(passed=5, failed=1)
        result.stdout.fnmatch_lines(["*ConnectError*"])

        saved = (pytester.path / "vars.yaml").read_text(encoding="utf-8")
        assert "token: tok-alice" in saved
        assert "first_role: tester" in saved
        assert "roles_seen: none yet" in saved
        assert "INFO 保存变量文件成功: vars.yaml" in plugin_log(pytester)

        # A later run starts with the variables saved by this one.
        for path in pytester.path.glob("test_0*.yaml"):
            path.unlink()
        pytester.makefile(".yaml", test_04_reuse="""
            test_name: token from the variables file
            steps:
              - request:
                  method: GET
                  url: /api/profile
                  headers: {Authorization: "Bearer {{ token }}"}
                response:
                  status_code: 200
        """)
        again = pytester.runpytest_subprocess("-p", "no:cacheprovider", "test_04_reuse.yaml")
        again.assert_outcomes(passed=1)

    def test_failed_save_is_logged_and_the_outcome_stays(self, pytester, http_service):
        (pytester.path / "blocker").write_text("a regular file, not a directory")
        write_ini(pytester, http_service, "blocker/vars.yaml")
        pytester.makefile(".yaml", test_01_login=LOGIN_YAML)

        result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
        result.assert_outcomes(passed=1)
        assert result.ret == 0
        log = plugin_log(pytester)
        error = "[Errno 20] Not a directory: 'blocker/vars.yaml'"
        # The message, then the attached exception as logging formats it.
        assert f"ERROR 保存变量文件出错: {error}\nNotADirectoryError: {error}\n" in log
        assert "保存变量文件成功" not in log

    def test_a_variables_file_that_cannot_be_read_stops_the_run_in_one_line(
            self, pytester, http_service):
        pytester.makefile(".yaml", test_01_login=LOGIN_YAML)
        (pytester.path / "list.yaml").write_text("- a\n- b\n")
        (pytester.path / "folder.yaml").mkdir()
        for vars_file, problem in [
            ("list.yaml", "'list.yaml' holds a YAML list, expected a mapping of names to values"),
            ("folder.yaml", "[Errno 21] Is a directory: 'folder.yaml'"),
        ]:
            write_ini(pytester, http_service, vars_file)
            result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
            assert result.ret == pytest.ExitCode.USAGE_ERROR
            assert result.errlines == [f"ERROR: [lumox] vars_file: {problem}", ""]
            assert "INTERNALERROR" not in result.stdout.str()
            assert (pytester.path / vars_file).is_dir() or (
                (pytester.path / vars_file).read_text() == "- a\n- b\n")

    def test_nothing_is_saved_when_vars_save_is_off(self, pytester, http_service):
        write_ini(pytester, http_service, "vars.yaml", vars_save=False)
        pytester.makefile(".yaml", test_01_login=LOGIN_YAML)

        result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
        result.assert_outcomes(passed=1)
        assert not (pytester.path / "vars.yaml").exists()
        assert "保存变量文件" not in plugin_log(pytester)


def test_no_response_outlives_its_case(pytester, http_service, monkeypatch):
    # Each YAML case's responses, and each workbook case's keyword object, client and
    # response, are followed by weak references: none may be alive once the run is over.
    # A passing YAML case keeps no rendered step either.
    pytester.makepyfile(traced="""
        import weakref

        from lumox.actlib import ApiKeyWord

        seen = []

        class TracedKeyWord(ApiKeyWord):
            def key_trace(self):
                \"\"\"关键字：trace\"\"\"
                seen.extend(weakref.ref(o) for o in (self, self.client, self._current_response))
        """)
    pytester.makeconftest("""
        import weakref

        import pytest

        import traced

        @pytest.hookimpl(wrapper=True)
        def pytest_yaml_run_step(item, request):
            result = yield
            traced.seen.append(weakref.ref(item.resp))
            return result

        def pytest_sessionfinish(session):
            traced.steps_kept = [item.current_step for item in session.items
                                 if item.name.startswith("case ")]
    """)
    pytester.syspathinsert()
    import traced  # before the run, so the run's records stay readable after it

    monkeypatch.setattr(settings.lumox, "keyword_type", "traced:TracedKeyWord")
    monkeypatch.setattr(settings.lumox_api, "base_url", http_service)
    for n in range(3):
        pytester.makefile(".yaml", **{f"test_case{n}": f"""
            test_name: case {n}
            steps:
              - request: {{method: GET, url: "{http_service}/api/items"}}
              - request: {{method: GET, url: "{http_service}/api/health"}}
            """})
    write_workbook(pytester.path / "test_book.xlsx", {"traced": [
        ["编号", "描述", "关键字"], [1, "", "send_http", "GET", "/api/health"], [2, "", "trace"]]})
    pytester.runpytest("-p", "no:cacheprovider").assert_outcomes(passed=4)
    gc.collect()
    assert len(traced.seen) == 6 + 3
    assert [ref for ref in traced.seen if ref() is not None] == []
    assert traced.steps_kept == [None, None, None]
