"""The command operations (lumox.cmd) and the `lumox` command: new workbooks, runs from any
directory, the pytest.ini guard, the Allure HTML report built by the real Allure 2 command
line, and what the command says when something is wrong."""

import json
import logging
import os
import signal
import subprocess
import sys
import textwrap
import time
import urllib.request
from pathlib import Path

import openpyxl
import pytest

from lumox import cmd, settings
from lumox.actlib import WebKeyWord
from notify_endpoints import Robots, free_port
from test_workbooks import HEADER, write_workbook

ROOT = Path(__file__).resolve().parent.parent
ALLURE = ROOT / "node_modules" / "allure-commandline" / "dist" / "bin" / "allure"
PACKAGED_INI = Path(cmd.file_path).parent / "file" / "pytest.ini.txt"

PASSING_AND_FAILING = """\
    test_name: {name}
    steps:
      - request:
          method: GET
          url: {base}/api/health
          headers: {{Authorization: Bearer secret-token}}
        response:
          status_code: {status}
        extract:
          state: [json, $.status]
        validate:
          state: ok
"""


def lumox(*words, cwd, env=None, timeout=120):
    """Runs the lumox command (as `python -m lumox`, the console script's code) in `cwd`."""
    return subprocess.run([sys.executable, "-m", "lumox", *words], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=timeout)


class TestStart:
    def test_start_writes_the_workbook_with_the_keyword_drop_down(self, tmp_path, monkeypatch,
                                                                  capsys):
        monkeypatch.chdir(tmp_path)
        cmd.start("login", kw_type="web")
        assert capsys.readouterr().out == "已创建新的测试用例文件：test_login.xlsx\n"

        workbook = openpyxl.load_workbook(tmp_path / "test_login.xlsx")
        assert workbook.sheetnames == ["login", "_key_word"]
        (validation,) = workbook["login"].data_validations.dataValidation
        assert (validation.type, validation.formula1, str(validation.sqref),
                validation.allow_blank, validation.errorStyle) == (
            "list", "=_key_word!$A$2:$A$1048576", "C1:C1048576", True, "warning")
        assert (validation.error, validation.prompt, validation.promptTitle) == (
            "未知的关键字，可能会引起错误", "可用从下拉菜单中选择", "关键字")
        # Written with both flags off, Excel showed neither the prompt nor the warning.
        assert validation.showErrorMessage and validation.showInputMessage
        header, *keyword_rows = workbook["_key_word"].values
        assert header == ("关键字", "说明", "参数")
        assert workbook["_key_word"].column_dimensions["B"].width == 60
        rows = {row[0]: row[1:] for row in keyword_rows}
        # The rows the runner carries out itself are offered after the library's.
        assert list(rows) == [*WebKeyWord.all_keyword(), "retry", "use_data", "run_sheet"]
        assert rows["retry"] == ("重复执行上面的行，直到全部通过且条件成立",
                                 "times=3, delay=1, rows=1, until")
        assert rows["click"] == ("点击指定的元素，自动等待元素可交互， 也可以选择强制点击",
                                 "locator, force=False")
        assert rows["new_driver"][1] == "browser=chrome, hub=not set, capabilities="

        # A workbook that is there already is never replaced.
        before = (tmp_path / "test_login.xlsx").read_bytes()
        with pytest.raises(FileExistsError, match="test_login.xlsx already exists"):
            cmd.start("login")
        assert (tmp_path / "test_login.xlsx").read_bytes() == before
        # Nor is a symbolic link followed, even one that points nowhere yet.
        outside = tmp_path.parent / f"{tmp_path.name}-outside.xlsx"
        (tmp_path / "test_linked.xlsx").symlink_to(outside)
        with pytest.raises(FileExistsError, match="test_linked.xlsx already exists"):
            cmd.start("linked")
        assert not outside.exists()

    def test_bad_names_and_options_are_one_line_errors(self, tmp_path):
        bad_name = lumox("start", "a/b", cwd=tmp_path)
        assert (bad_name.returncode, bad_name.stderr) == (1, (
            "lumox start: cannot create a case named 'a/b': '/' cannot be part of a sheet "
            "title or file name\n"))
        long_name = lumox("start", "x" * 40, cwd=tmp_path)
        assert long_name.returncode == 1 and "at most 31 characters" in long_name.stderr
        unknown = lumox("start", "login", "--kind", "web", cwd=tmp_path)
        assert unknown.returncode == 2
        assert "lumox: error: unrecognized arguments: --kind" in unknown.stderr
        assert lumox("frobnicate", cwd=tmp_path).returncode == 2
        assert list(tmp_path.iterdir()) == []


class TestCommandLine:
    def test_help_version_docs(self, tmp_path):
        helped = lumox("--help", cwd=tmp_path)
        assert helped.returncode == 0
        for line in ["start", "创建测试用例demo文件. 并命名为 test_{name}.xlsx", "run",
                     "启动框架 执行用例，可传递pytest参数拉控制执行", "report",
                     "调用allure，生成HTML报告", "docs", "打印关键字文档", "lumox run -x -k smoke"]:
            assert line in helped.stdout
        run_help = lumox("run", "--help", cwd=tmp_path)
        assert "usage: lumox run [-h] [PYTEST ARGS...]" in run_help.stdout
        assert lumox("--version", cwd=tmp_path).stdout == "lumox 0.1.0\n"
        web_docs = lumox("docs", "--type", "web", cwd=tmp_path)
        assert web_docs.stdout.startswith("关键字及其参数\n====================\n")
        assert "关键字：new_driver" in web_docs.stdout
        assert "关键字：send_http" not in web_docs.stdout
        # The runner's own rows close every library's documentation.
        assert web_docs.stdout.endswith("关键字：run_sheet\n"
                                        "执行同一工作簿中另一个表的步骤，并传入变量\n"
                                        ":param sheet: 要执行的表\n"
                                        ":param name=value: 传给该表的变量，"
                                        "可写多个，每格一个\n--------------------\n")
        # `lumox docs | head -1`: the reader leaving ended in "[Errno 32] Broken pipe". Here
        # the reader has gone before the first write, so the write surely fails.
        reader, writer = os.pipe()
        os.close(reader)
        try:
            piped = subprocess.run([sys.executable, "-m", "lumox", "docs"], cwd=tmp_path,
                                   stdout=writer, stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(writer)
        assert (piped.returncode, piped.stderr) == (141, b"")
        # help, version and docs never create pytest.ini; a run does, pytest's --help too.
        assert list(tmp_path.iterdir()) == []
        assert "--strict-markers" in lumox("run", "--", "--help", cwd=tmp_path).stdout
        assert (tmp_path / "pytest.ini").exists()

    def test_a_broken_pytest_ini_is_named_without_a_traceback(self, tmp_path):
        (tmp_path / "pytest.ini").write_text("[lumox_ui]\nwait_max = soon\n")
        result = lumox("docs", cwd=tmp_path)
        assert result.returncode == 1
        # It began "lumox docs: ImportError: SettingsError: ".
        assert result.stderr == ("lumox docs: pytest.ini [lumox_ui] wait_max = 'soon': expected a "
                                 "number of seconds\n")


class TestOperations:
    def test_write_pytest_ini_creates_the_file_once_and_reloads_the_settings(
            self, tmp_path, monkeypatch, capsys, caplog):
        monkeypatch.chdir(tmp_path)
        reloads = []
        for group in ("lumox", "lumox_api", "lumox_ui"):
            monkeypatch.setattr(getattr(settings, group), "reload_settings",
                                lambda group=group: reloads.append(group))
        calls = []

        def operation(*args, **kwargs):
            """what it does"""
            calls.append((args, kwargs))
            return "result"

        guarded = cmd.write_pytest_ini(operation)
        assert (guarded.__name__, guarded.__doc__) == ("operation", "what it does")
        caplog.set_level(logging.INFO, logger="lumox.pytest")
        assert guarded(1, a=2) == "result"
        assert guarded(3) == "result"
        assert calls == [((1,), {"a": 2}), ((3,), {})]
        assert (tmp_path / "pytest.ini").read_text(encoding="utf-8") == PACKAGED_INI.read_text(
            encoding="utf-8")
        assert capsys.readouterr().out == "pytest.ini不存在，自动创建\n"
        assert [r.getMessage() for r in caplog.records] == ["pytest.ini不存在，自动创建"]
        assert reloads == ["lumox", "lumox_api", "lumox_ui"]

    def test_main_with_runs_in_the_directory_and_always_comes_back(self, pytester, monkeypatch):
        here = Path.cwd()
        suite = pytester.mkdir("suite")
        (suite / "pytest.ini").write_text("[pytest]\naddopts = -p no:cacheprovider\n")
        case = suite / "test_where.py"
        case.write_text("import os\n\ndef test_where():\n"
                        "    assert os.getcwd().endswith('suite')\n")
        assert pytest.main_with is cmd.main_with
        assert cmd.main_with(str(case), ["-q"]) == 0  # a file: its directory
        assert cmd.main_with(suite, ["-q", "test_where.py"]) == 0
        assert Path.cwd() == here
        with pytest.raises(TypeError):
            cmd.main_with(suite, 5)  # fails inside the scope
        assert Path.cwd() == here
        with pytest.raises(NotADirectoryError):
            with cmd.switch_test_dir(case):
                pass
        assert Path.cwd() == here

    def test_docs_ignores_extra_words(self, capsys):
        cmd.docs("api", "extra", verbose=True)
        printed = capsys.readouterr().out
        assert "关键字：send_http" in printed and "关键字：click" not in printed



@pytest.fixture
def project(tmp_path, http_service):
    """A project folder with a passing and a failing YAML case, and no pytest.ini yet."""
    for name, status in [("health", 200), ("broken", 201)]:
        (tmp_path / f"test_{name}.yaml").write_text(textwrap.dedent(
            PASSING_AND_FAILING.format(name=name, base=http_service, status=status)))
    # $VAR in a report path is expanded (it was, when a shell ran the tool).
    env = dict(os.environ, LUMOX_ALLURE_PATH=str(ALLURE), LUMOX_TEST_ROOT=str(tmp_path),
               LUMOX_ALLURE_REPORT="$LUMOX_TEST_ROOT/html report;x")
    return tmp_path, env


def test_run_then_report_builds_the_html_report(project):
    path, env = project
    first = lumox("run", "-p", "no:cacheprovider", cwd=path, env=env)
    assert first.returncode == 1  # pytest's status: a case failed
    assert first.stdout.startswith("pytest.ini不存在，自动创建\n")
    assert "1 failed, 1 passed" in first.stdout
    assert "自动创建" not in lumox("run", "-p", "no:cacheprovider", cwd=path, env=env).stdout

    # The YAML step is a report step carrying its request and response, secrets masked.
    results = [json.loads(p.read_text()) for p in (path / "allure-results").glob("*-result.json")]
    (health,) = [r for r in results if r["name"] == "health"]
    (step,) = health["steps"]
    assert step["name"].startswith("1 GET http://127.0.0.1:")
    texts = {a["name"]: (path / "allure-results" / a["source"]).read_text()
             for a in step["attachments"]}
    assert texts["request"].startswith("GET http://127.0.0.1:")
    assert "authorization: Bearer ***" in texts["request"] and "secret-token" not in str(texts)
    assert texts["response"].startswith("HTTP/1.1 200 OK\n")
    # Its checks are a step of their own, naming what was checked against what; the YAML
    # step's checks made no report step at all.
    checks = {s["name"]: {p["name"]: p["value"] for p in s["parameters"]} for s in step["steps"]}
    assert checks == {"验证响应": {"status_code (actual)": "200", "status_code": "200"},
                      "提取变量": {"var_name": "'state'", "attr": "'json'", "expr": "'$.status'",
                                   "index": "0"},
                      "断言变量 state": {"expected": "'ok'", "actual": "'ok'"}}
    assert all(s["status"] == "passed" for s in step["steps"])

    built = lumox("report", cwd=path, env=env)
    assert built.returncode == 0, built.stdout + built.stderr
    report_dir = path / "html report;x"
    assert f"执行命令:  {ALLURE} generate ./allure-results  -o {report_dir} --clean" in built.stdout
    assert (report_dir / "index.html").exists()
    cases = [json.loads(p.read_text()) for p in (report_dir / "data" / "test-cases").glob("*.json")]
    assert sorted((c["name"], c["status"]) for c in cases) == [("broken", "failed"),
                                                                ("health", "passed")]
    (health,) = [c for c in cases if c["name"] == "health"]
    (step,) = health["testStage"]["steps"]
    assert [a["name"] for a in step["attachments"]] == ["request", "response"]


def test_report_failures_are_one_message_each(project, tmp_path_factory):
    path, env = project
    fresh = tmp_path_factory.mktemp("fresh")
    before_any_run = lumox("report", cwd=fresh, env=env)
    assert before_any_run.returncode == 1
    assert before_any_run.stdout.splitlines()[-1] == "出错：allure结果不存在，请执行用例生成结果"

    (fresh / "pytest.ini").write_text("[pytest]\naddopts = -p no:cacheprovider\n")
    assert lumox("report", cwd=fresh, env=env).stdout == "出错： allure-pytest似乎未启用\n"

    lumox("run", "-p", "no:cacheprovider", cwd=path, env=env)
    missing_tool = lumox("report", cwd=path, env=dict(env, LUMOX_ALLURE_PATH="/nope/allure"))
    assert missing_tool.returncode == 1
    assert missing_tool.stdout.splitlines()[-1].startswith(
        "出错：无法运行allure命令 '/nope/allure'（[lumox] allure_path）：")
    assert "Traceback" not in missing_tool.stderr


@pytest.fixture
def robots():
    robots = Robots()
    yield robots
    robots.stop()


def test_check_lists_the_mistakes_of_case_files_and_sends_nothing(tmp_path, robots):
    (tmp_path / "pytest.ini").write_text(
        f"[pytest]\n[lumox]\nqywx_url = {robots.base}/ok\n[lumox_api]\nbase_url = {robots.base}\n")
    (tmp_path / "test_a.yaml").write_text(
        "test_name: a\nsteps:\n  - request: {method: PSOT, url: /x, jsno: 1}\n---\n"
        "test_name: b\nsteps:\n  - request: {method: POST, url: /x}\n")
    (tmp_path / "test_b.yaml").write_text("test_name: b\nsteps:\n\t- request: {url: /x}\n")
    write_workbook(tmp_path / "test_c.xlsx", {
        "s": [HEADER, [1, "", "send_htp", "GET", "/x"], [2, "", "send_http", "GET"]],
        "t": [HEADER, [1, "", "sleep", 1, 2], [2, "", "assert", 1, "equal"]]})
    write_workbook(tmp_path / "test_fine.xlsx", {"s": [HEADER, [1, "", "send_http", "GET", "/x"]]})
    checked = lumox("check", cwd=tmp_path)
    assert checked.returncode == 1
    lines = checked.stdout.splitlines()
    where = "test_a.yaml, document 1 (line 1), case 'a', step 1: "
    assert lines[:2] == [f"{where}unknown request key 'jsno', did you mean 'json'?",
                         f"{where}method 'PSOT' is not an HTTP method, did you mean 'POST'?"]
    assert lines[2] == "test_b.yaml: not valid YAML:"
    assert "hint: YAML indents with blanks, not tabs: line 3 holds a tab" in lines
    # Argument counts: a missing one failed the row when it ran, more were dropped unseen.
    assert lines[-4:] == [
        "test_c.xlsx, sheet 's', row 2: unknown keyword 'send_htp', did you mean 'send_http'?",
        "test_c.xlsx, sheet 's', row 3: 'send_http' takes 2 arguments (D onwards), the row has 1",
        "test_c.xlsx, sheet 't', row 2: 'sleep' takes at most 1 argument (D onwards), the row has "
        "2: the others would be ignored",
        "lumox check: 4 case(s) or file(s) with mistakes"]
    assert robots.requests == []  # neither a request nor a notice
    fine = lumox("check", "test_fine.xlsx", cwd=tmp_path)
    assert (fine.returncode, fine.stdout) == (0, "lumox check: no mistakes found\n")


def test_report_show_sends_the_notice_and_serves_the_report(project, robots):
    path, env = project
    port = free_port()
    lumox("run", "-p", "no:cacheprovider", cwd=path, env=env)
    env = dict(env, LUMOX_ALLURE_LOCAL_PORT=str(port), LUMOX_QYWX_URL=f"{robots.base}/ok",
               LUMOX_ALLURE_URL="http://reports.example.test/latest/")
    serving = subprocess.Popen([sys.executable, "-m", "lumox", "report", "-s"], cwd=path,
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    stopped = False
    try:
        deadline = time.monotonic() + 60
        while True:
            try:
                page = urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=2).read()
                break
            except OSError:
                assert serving.poll() is None and time.monotonic() < deadline
                time.sleep(0.3)
        assert b"<html" in page.lower()
        # The port taken: Allure printed a Java stack trace and lumox exited 0.
        busy = lumox("report", "-s", cwd=path, env=env)
        assert busy.returncode == 1
        assert busy.stdout.splitlines()[-1] == (
            f"出错：端口 {port} 已被占用（[lumox] allure_local_port），无法打开报告")
        # SIGTERM to lumox alone: Allure's Java server, in a group of its own, left the port
        # taken.
        serving.send_signal(signal.SIGTERM)
        assert serving.wait(timeout=30) == 143
        stopped = True
        with pytest.raises(OSError):
            urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=2)
    finally:
        if not stopped:
            os.killpg(serving.pid, signal.SIGTERM)
            serving.wait(timeout=30)
    (notice,) = robots.requests
    assert notice["json"]["markdown"]["content"] == (
        "【lumox自动化测试报告】\n\n        在线报告已生成，请[点击这里]"
        "(http://reports.example.test/latest/)查看")
