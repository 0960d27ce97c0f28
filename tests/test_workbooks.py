"""Keyword cases in workbooks (test_*.xlsx): collection, steps, {name} references, fixtures,
failure reports, broken files, the shipped template and the demo workbook.

Suites that only need the runner run in-process with a recording keyword class
(`[lumox] keyword_type` pointing at it); suites that use the real keyword libraries run
in a subprocess with their own pytest.ini, since settings are read when lumox loads.
"""

import ast
import datetime
import io
import shutil
import textwrap
import zipfile
from pathlib import Path

import openpyxl
import pytest
from openpyxl.worksheet.datavalidation import DataValidation

from lumox import settings, steps, templates, workbooks
from lumox.actlib import KeyWord
from report_steps import report_steps_fixture, written_results  # noqa: F401  (fixture report_steps)

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
TEMPLATE = ROOT / "src" / "lumox" / "file" / "template.xlsx"
HEADER = ["编号", "描述", "关键字", "参数1", "参数2", "参数3"]

# A keyword class that writes every call to calls.log (one repr'd tuple a line). It
# dispatches "_key_" + name like the keyword libraries, with no other behaviour.
RECORDING_KEYWORDS = """
    import weakref
    from collections.abc import Mapping

    import pytest

    from lumox import steps

    # Weak references to every keyword object made, to see that none outlives its case.
    made = []


    def record(*entry):
        with open("calls.log", "a", encoding="utf-8") as log:
            log.write(repr(entry) + "\\n")


    class RecordingKeyWord:
        def __init__(self, exchanger, usefixtures):
            self.exchanger = exchanger
            self.usefixtures = usefixtures
            made.append(weakref.ref(self))
            record("new", id(self), exchanger is steps.exchanger,
                   isinstance(usefixtures, Mapping))

        def __getattr__(self, name):
            _, found, keyword = name.partition("_key_")
            if not found:
                raise AttributeError(name)
            return getattr(self, "key_" + keyword)

        def key_record(self, *args):
            record("record", id(self), args)

        def key_save(self, name, value):
            self.exchanger.file[name] = value

        def key_fail(self, *args):
            raise AssertionError(*args)

        def key_skip(self, reason):
            pytest.skip(reason)

        def key_fixture(self, name):
            record("has", name, name in self.usefixtures)
            record("fixture", name, self.usefixtures[name])
"""

FIXTURES_CONFTEST = """
    import pytest

    from recording_keywords import record

    @pytest.fixture
    def browser_like():
        record("setup", "browser_like")
        yield "session-1"
        record("teardown", "browser_like")

    @pytest.fixture
    def needs_missing(missing_dependency):
        return 1
"""


def write_workbook(path, sheets, merged=()):
    """Writes a workbook of `sheets` (title -> rows); `merged` lists (title, range)."""
    workbook = openpyxl.Workbook()
    workbook.remove(workbook.active)
    for title, rows in sheets.items():
        sheet = workbook.create_sheet(title)
        for row in rows:
            sheet.append(row)
    for title, cells in merged:
        workbook[title].merge_cells(cells)
    workbook.save(path)
    return path


def write_pytest_ini(pytester, text):
    """pytest.ini, the file lumox reads its settings from (pytester.makeini writes tox.ini)."""
    (pytester.path / "pytest.ini").write_text(textwrap.dedent(text), encoding="utf-8")


def recorded_calls(pytester):
    log = pytester.path / "calls.log"
    if not log.exists():
        return []
    return [ast.literal_eval(line) for line in log.read_text(encoding="utf-8").splitlines()]


@pytest.fixture(autouse=True)
def saved_variables():
    """The variables to save are process-wide too (the run variables are restored by
    conftest.py): each suite starts from and restores them."""
    saved_file = dict(steps.exchanger.file)
    yield
    steps.exchanger.file.clear()
    steps.exchanger.file.update(saved_file)


pytestmark = pytest.mark.usefixtures("wide_terminal")


@pytest.fixture
def suite(pytester, monkeypatch):
    """A suite whose workbook cases use RecordingKeyWord (also when run in a subprocess)."""
    pytester.makepyfile(recording_keywords=textwrap.dedent(RECORDING_KEYWORDS))
    pytester.makeconftest(textwrap.dedent(FIXTURES_CONFTEST))
    write_pytest_ini(pytester, """\
        [pytest]
        addopts = -p no:cacheprovider
        filterwarnings = error
        [lumox]
        keyword_type = recording_keywords:RecordingKeyWord
        """)
    pytester.syspathinsert()
    monkeypatch.setattr(settings.lumox, "keyword_type", "recording_keywords:RecordingKeyWord")
    return pytester


@pytest.fixture
def api_suite(pytester, http_service):
    """A suite run in a subprocess with the real keyword libraries against the demo service."""
    write_pytest_ini(pytester, f"""\
        [pytest]
        addopts = -p no:cacheprovider
        filterwarnings = error
        [lumox]
        vars_file = vars.yaml
        [lumox_api]
        base_url = {http_service}
        """)
    return pytester


class TestCollectionAndSteps:
    def test_every_sheet_but_the_keyword_list_is_a_case(self, suite):
        write_workbook(suite.path / "test_orders.xlsx", {
            "下单": [HEADER, [1, "first", "record", "a"]],
            "_key_word": [["record"], ["fail"]],
            "cancel order": [HEADER, [1, "", "record", "b"]],
        })
        write_workbook(suite.path / "orders.xlsx", {"not collected": [HEADER, [1, "", "fail"]]})
        write_workbook(suite.path / "test_draft.xlsx", {"notes": [HEADER, ["", "to do", None]]})
        result = suite.runpytest("-v", "-rs")
        result.assert_outcomes(passed=2, skipped=1)
        result.stdout.fnmatch_lines([
            "test_draft.xlsx::notes SKIPPED*",
            "test_orders.xlsx::下单 PASSED*",
            "test_orders.xlsx::cancel order PASSED*",
            "SKIPPED [[]1] test_draft.xlsx: no steps: no row below the header has a keyword",
        ])
        result = suite.runpytest("--collect-only", "-k", "cancel")
        result.stdout.fnmatch_lines(["*<WorkbookItem cancel order>*", "*1/3 tests collected*"])

    def test_rows_below_the_header_with_a_keyword_are_steps_with_typed_arguments(self, suite):
        write_workbook(suite.path / "test_types.xlsx", {"types": [
            ["编号", "描述", "关键字", "参数1"],          # header: never a step
            [1, "numbers stay numbers", "record", 200, 2.5, True, "text"],
            [],                                           # blank row
            [None, "a note without keyword", None, "ignored"],
            [3, "gap in between", " record ", "a", None, None, "d", None, None],
            [4, "no arguments", "record"],
            [5, "merged argument", "record", "wide", None, None, "after"],
        ]}, merged=[("types", "D7:F7")])
        result = suite.runpytest("--log-level=DEBUG", "-rP")
        result.assert_outcomes(passed=1)
        # Each row's line is logged at DEBUG when DEBUG is on (and only then built).
        result.stdout.fnmatch_lines(["DEBUG * Workbook case 'types': row 2, step 1 of 4",
                                     "DEBUG * Workbook case 'types': row 7, step 4 of 4"])
        calls = [entry[2] for entry in recorded_calls(suite) if entry[0] == "record"]
        assert calls == [
            (200, 2.5, True, "text"),
            ("a", None, None, "d"),    # empty cells between are None, trailing ones dropped
            (),
            ("wide", None, None, "after"),
        ]
        assert (type(calls[0][0]), type(calls[0][1])) == (int, float)

    def test_one_keyword_object_per_case_with_the_runs_exchanger(self, suite):
        # At the end of the run, every keyword object made must be gone (pytest itself
        # keeps the last failure for post-mortem debugging: that is dropped first).
        with open(suite.path / "conftest.py", "a", encoding="utf-8") as conftest:
            conftest.write(textwrap.dedent("""
                def pytest_sessionfinish(session):
                    import gc, sys
                    import recording_keywords
                    for name in ("last_exc", "last_type", "last_value", "last_traceback"):
                        if hasattr(sys, name):
                            delattr(sys, name)
                    gc.collect()
                    record("alive", [ref() is not None for ref in recording_keywords.made])
                """))
        write_workbook(suite.path / "test_objects.xlsx", {
            "first": [HEADER, [1, "", "record"], [2, "", "record"]],
            "second": [HEADER, [1, "", "record"]],
            "failing": [HEADER, [1, "", "fixture", "browser_like"], [2, "", "fail", "x"]],
        })
        suite.runpytest_subprocess().assert_outcomes(passed=2, failed=1)
        calls = recorded_calls(suite)
        news = [entry for entry in calls if entry[0] == "new"]
        assert [entry[2:] for entry in news] == [(True, True)] * 3
        first, second = news[0][1], news[1][1]
        assert [entry[1] for entry in calls if entry[0] == "record"] == [first, first, second]
        assert first != second
        # Neither a passed nor a failed case keeps its keyword object (or its fixtures).
        assert calls[-1] == ("alive", [False, False, False])

    def test_each_step_is_one_report_step_titled_with_number_and_description(
            self, suite, report_steps):
        write_workbook(suite.path / "test_titles.xlsx", {"titles": [
            HEADER,
            [1, "登录", "record", "x"],
            [None, "", "save", "k", 1],    # no number: its position; no description: keyword
            [3.0, "保存", "record", "{k}"],
            ["4a", "失败", "record", "{missing}"],
            [5, "never runs", "record"],
        ]})
        suite.runpytest().assert_outcomes(failed=1)
        assert report_steps.summary() == [
            ("1 登录", True), ("2 save", True), ("3 保存", True), ("4a 失败", False)]
        # Parameters: the keyword and its arguments as called (as written when a reference
        # could not be replaced).
        assert [step["params"] for step in report_steps.steps[2:]] == [
            {"keyword": "'record'", "arguments": "(1,)"},
            {"keyword": "'record'", "arguments": "('{missing}',)"},
        ]


class TestReferences:
    def test_references_are_replaced_by_run_variables_just_before_the_step(self, suite):
        templates.add_globals(user={"id": 7, "tags": ["a", "b"]}, flag=True, 名字="张三",
                              price=5.5)
        write_workbook(suite.path / "test_refs.xlsx", {
            "save": [
                HEADER,
                [1, "", "save", "code", 200],
                [2, "", "record", "{code}", "{user}", "{flag}", "/orders/{code}"],
                [3, "", "record", '{"user": {user}, "ok": {flag}, "price": {price}}'],
                [4, "", "record", "你好{名字}", "{{code}}", "{ code }", '{"a": 1}', "{}", 7],
                [5, "", "save", "code", 201],
                [6, "", "record", "{code}"],
            ],
            "later case": [HEADER, [1, "", "record", "{code}"]],
        })
        suite.runpytest().assert_outcomes(passed=2)
        calls = [entry[2] for entry in recorded_calls(suite) if entry[0] == "record"]
        assert calls == [
            (200, {"id": 7, "tags": ["a", "b"]}, True, "/orders/200"),
            ('{"user": {"id": 7, "tags": ["a", "b"]}, "ok": true, "price": 5.5}',),
            ("你好张三", "{code}", "{ code }", '{"a": 1}', "{}", 7),
            (201,),
            (201,),
        ]
        assert type(calls[0][0]) is int
        # Variables saved by a step become run variables for YAML cases too.
        assert templates.env_globals["code"] == 201
        assert steps.exchanger.file["code"] == 201

    def test_saved_variables_win_over_older_template_globals(self, suite):
        # A value loaded from an earlier run's variables file is a template global; the
        # value a step saves now must replace it.
        templates.add_globals(token="old")
        steps.exchanger.file["token"] = "old"
        write_workbook(suite.path / "test_fresh.xlsx", {"fresh": [
            HEADER, [1, "", "save", "token", "new"], [2, "", "record", "Bearer {token}"]]})
        suite.runpytest().assert_outcomes(passed=1)
        assert [e[2] for e in recorded_calls(suite) if e[0] == "record"] == [("Bearer new",)]

    def test_unknown_variable_fails_the_step_naming_it(self, suite):
        write_workbook(suite.path / "test_unknown.xlsx", {"unknown": [
            HEADER,
            [1, "", "record", "ok"],
            [2, "带令牌", "record", "Bearer {tokn}", "{also_missing}"],
            [3, "", "record", "never"],
        ]})
        result = suite.runpytest("-rf")
        result.assert_outcomes(failed=1)
        result.stdout.fnmatch_lines([
            "Workbook case 'unknown' failed at row 3 (test_unknown.xlsx, sheet 'unknown')",
            "step 2: 带令牌",
            "    keyword:   record",
            "    arguments as written: ('Bearer {tokn}', '{also_missing}')",
            "",
            "lumox.workbooks.VariableError: undefined variable 'tokn'",
            "*FAILED test_unknown.xlsx::unknown - row 3, record: lumox.workbooks.VariableError: "
            "undefined variable 'tokn'",
        ])
        assert [e[2] for e in recorded_calls(suite) if e[0] == "record"] == [("ok",)]


class TestFailures:
    def test_failing_row_stops_the_case_and_reports_where_and_why(self, suite):
        write_workbook(suite.path / "test_fail.xlsx", {"checkout": [
            HEADER,
            [1, "first", "record"],
            [],
            [2, "检查状态码", "fail", 201, "equal", 200],
            [3, "never runs", "record"],
        ]})
        result = suite.runpytest("-rf")
        result.assert_outcomes(failed=1)
        result.stdout.fnmatch_lines([
            "*_ case: checkout _*",
            "Workbook case 'checkout' failed at row 4 (test_fail.xlsx, sheet 'checkout')",
            "step 2: 检查状态码",
            "    keyword:   fail",
            "    arguments: (201, 'equal', 200)",
            "",
            "AssertionError: (201, 'equal', 200)",
            "*FAILED test_fail.xlsx::checkout - row 4, fail: AssertionError: (201, 'equal', 200)",
        ])
        # The report is the summary above, not a wall of frames.
        assert "Traceback" not in result.stdout.str() and "runner.py" not in result.stdout.str()
        assert len([e for e in recorded_calls(suite) if e[0] == "record"]) == 1
        result = suite.runpytest("--fulltrace")
        result.stdout.fnmatch_lines(["AssertionError: (201, 'equal', 200)", "", "*runner.py*"])

    def test_unknown_keyword_and_skip(self, suite):
        write_workbook(suite.path / "test_misc.xlsx", {
            "typo": [HEADER, [1, "", "recrod", "x"]],
            "skipped": [HEADER, [1, "", "skip", "not ready"], [2, "", "fail"]],
        })
        result = suite.runpytest("-rs")
        result.assert_outcomes(failed=1, skipped=1)
        result.stdout.fnmatch_lines(["    keyword:   recrod", "AttributeError: *key_recrod*",
                                     "SKIPPED [[]1] *: not ready"])

    def test_keyword_type_that_names_no_class_fails_each_case_clearly(self, suite, monkeypatch):
        def use_keyword_type(value):
            # In the run's own file: a run reads the settings of the file it uses.
            write_pytest_ini(suite, f"""\
                [pytest]
                addopts = -p no:cacheprovider
                filterwarnings = error
                [lumox]
                keyword_type = {value}
                """)
            monkeypatch.setattr(settings.lumox, "keyword_type", value)

        write_workbook(suite.path / "test_setup.xlsx", {"one": [HEADER, [1, "", "record"]]})
        use_keyword_type("recording_keywords:Missing")
        result = suite.runpytest("-rf")
        result.assert_outcomes(failed=1)
        result.stdout.fnmatch_lines([
            "Workbook case 'one' could not create its keyword object "
            "(test_setup.xlsx, sheet 'one')",
            "keyword class: [lumox] keyword_type = 'recording_keywords:Missing'",
            "",
            "AttributeError: module 'recording_keywords' has no attribute 'Missing'",
        ])
        use_keyword_type("recording_keywords:record")
        result = suite.runpytest()
        result.stdout.fnmatch_lines(["TypeError: [[]lumox] keyword_type = "
                                     "'recording_keywords:record' names <function record*>, "
                                     "not a class"])

    def test_unreadable_workbooks_are_collection_errors_and_other_files_run(self, suite):
        write_workbook(suite.path / "test_good.xlsx", {"good": [HEADER, [1, "", "record"]]})
        (suite.path / "test_text.xlsx").write_text("not a workbook", encoding="utf-8")
        (suite.path / "test_empty.xlsx").write_bytes(b"")
        with zipfile.ZipFile(suite.path / "test_zip.xlsx", "w") as archive:
            archive.writestr("readme.txt", "a zip archive, but no workbook")
        (suite.path / "test_plain.yaml").write_text("test_name: yaml\nsteps: []\n")
        result = suite.runpytest()
        result.assert_outcomes(passed=2, errors=3)
        assert result.ret == pytest.ExitCode.TESTS_FAILED
        result.stdout.fnmatch_lines_random([
            "test_text.xlsx: cannot be read as a workbook: zipfile.BadZipFile: *",
            "test_empty.xlsx: cannot be read as a workbook: zipfile.BadZipFile: *",
            "test_zip.xlsx: cannot be read as a workbook: KeyError: *",
        ])


class TestFixtures:
    def test_fixtures_are_looked_up_by_name_on_first_use(self, suite):
        write_workbook(suite.path / "test_fixtures.xlsx", {
            "uses": [
                HEADER,
                [1, "", "record", "before"],
                [2, "", "fixture", "browser_like"],
                [3, "", "fixture", "browser_like"],
                [4, "", "record", "after"],
            ],
            "missing": [HEADER, [1, "", "fixture", "no_such_fixture"]],
            "broken dependency": [HEADER, [1, "", "fixture", "needs_missing"]],
        })
        result = suite.runpytest()
        result.assert_outcomes(passed=1, failed=2)
        calls = [entry for entry in recorded_calls(suite) if entry[0] != "new"]
        uses = calls[:7]
        assert [(e[0], e[-1]) if e[0] != "record" else e[2] for e in uses] == [
            ("before",),
            ("has", False),                    # looking at the mapping starts nothing
            ("setup", "browser_like"),         # first use starts the fixture...
            ("fixture", "session-1"),
            ("has", True),
            ("fixture", "session-1"),          # ...once per case
            ("after",),
        ]
        assert ("teardown", "browser_like") in calls
        result.stdout.fnmatch_lines(["KeyError: 'no_such_fixture'"])
        result.stdout.fnmatch_lines(["*FixtureLookupError*missing_dependency*"])


class TestRealKeywords:
    API_CASE = [
        HEADER,
        [1, "登录参数", "set_json", '{"username": "{user}", "password": "{password}"}'],
        [2, "登录", "send_http", "POST", "/api/login"],
        [3, "保存状态码", "save_code", "login_code"],
        [4, "检查状态码", "assert", 200, "equal", "{login_code}"],
        [5, "保存令牌", "save_jsonpath", "token", "$.token"],
        [6, "检查令牌", "assert", '["tok-alice"]', "equal", "{token}"],
        [7, "保存响应头", "save_headers", "login_headers"],
        [8, "检查会话", "assert", "{login_headers}", "contains", "session=s-1"],
    ]
    ECHO_CASE = [
        HEADER,
        [1, "令牌请求头", "add_header", "Authorization", "Bearer {token}"],
        [2, "查询参数", "add_query", "page", 2],
        [3, "JSON 正文", "set_json", '{"tokens": {token}, "code": {login_code}}'],
        [4, "回显", "send_http", "POST", "/api/echo"],
        [5, "保存正文", "save_body", "echoed"],
        [6, "检查正文", "assert", "{echoed}", "contains", "tok-alice"],
        [7, "读取回显", "save_jsonpath", "page", "$.query.page"],
        [8, "检查查询参数", "assert", '["2"]', "equal", "{page}"],
        [9, "读取 JSON", "save_jsonpath", "echoed_code", "$.json.code"],
        [10, "检查 JSON", "assert", "[200]", "equal", "{echoed_code}"],
        [11, "表单字段", "add_form", "title", "周报"],
        [12, "上传文件", "add_file", "attachment", "data/report.txt"],
        [13, "上传", "send_http", "POST", "/api/upload"],
        [14, "检查状态码", "assert", r"^2\d\d$", "re", "{resp_code}"],
        [15, "保存文件名", "save_jsonpath", "uploaded", "$.files.attachment.filename"],
        [16, "检查文件名", "assert", '["report.txt"]', "equal", "{uploaded}"],
    ]

    def test_api_workbook_runs_green_against_a_loopback_service(self, api_suite):
        (api_suite.path / "vars.yaml").write_text("user: alice\npassword: secret\n")
        (api_suite.path / "data").mkdir()
        (api_suite.path / "data" / "report.txt").write_text("upload me\n")
        write_workbook(api_suite.path / "test_api.xlsx",
                       {"登录": self.API_CASE, "回显与上传": self.ECHO_CASE})
        result = api_suite.runpytest_subprocess("-v")
        result.assert_outcomes(passed=2)
        saved = (api_suite.path / "vars.yaml").read_text(encoding="utf-8")
        # Saved variables reach the variables file at the end of the run.
        assert "login_code: 200" in saved and "uploaded: '[\"report.txt\"]'" in saved

    def test_failing_assert_reports_workbook_sheet_row_keyword_arguments(self, api_suite):
        write_workbook(api_suite.path / "test_orders.xlsx", {"下单": [
            HEADER,
            [1, "健康检查", "send_http", "GET", "/api/health"],
            [2, "检查状态码", "assert", 201, "equal", "{resp_code}"],
            [3, "不会执行", "send_http", "GET", "/api/health"],
        ]})
        result = api_suite.runpytest_subprocess("-rf")
        result.assert_outcomes(failed=1)
        result.stdout.fnmatch_lines([
            "Workbook case '下单' failed at row 3 (test_orders.xlsx, sheet '下单')",
            "step 2: 检查状态码",
            "    keyword:   assert",
            "    arguments: (201, 'equal', 200)",
            "",
            "AssertionError",
            "assert: 201 (int) equal 200 (int) is false",
            "*FAILED test_orders.xlsx::下单 - row 3, assert: AssertionError: assert: 201 (int) "
            "equal 200 (int) is false",
        ])

    def test_retry_data_sheets_and_sheets_run_as_flows(self, api_suite):
        login = [HEADER,
                 [1, "登录请求", "set_json", '{"username": "{name}", "password": "{password}"}'],
                 [2, "发送", "send_http", "POST", "/api/login"],
                 [3, "登录成功", "assert", 200, "equal", "{resp_code}"]]
        write_workbook(api_suite.path / "test_linked.xlsx", {
            "poll": [HEADER, [1, "查询", "send_http", "GET", "/api/job?id=wb-poll&pending=2"],
                     [2, "状态", "save_jsonpath", "state", "$.status", 0],
                     [3, "完成", "assert", "done", "equal", "{state}"],
                     [4, "重试", "retry", 5, 0.05, 3]],
            "poll never": [HEADER,
                           [1, "查询", "send_http", "GET", "/api/job?id=wb-never&pending=9"],
                           [2, "状态", "save_jsonpath", "state", "$.status", 0],
                           [3, "重试", "retry", 2, 0, 2, "state == done"]],
            "users": [["user", "password", "code"], ["alice", "secret", 200],
                      ["张三", "密码", 200], ["bob", "nope", 200]],
            "each user": [HEADER, [None, None, "use_data", "users"],
                          [1, "登录", "run_sheet", "login", "name={user}", "password={password}"],
                          [2, "状态码", "assert", "{code}", "equal", "{resp_code}"]],
            "as alice": [HEADER,
                         [1, "登录", "run_sheet", "login", "name=alice", "password=secret"]],
            "login": login,
            "broken": [HEADER, [1, "重试", "retry", 0, 1, 3], [2, "登录", "run_sheet", "logn"],
                       [3, "循环", "run_sheet", "ping"]],
            "ping": [HEADER, [1, "x", "run_sheet", "pong"]],
            "pong": [HEADER, [1, "x", "run_sheet", "ping"]],
            # A mistake two sheets down breaks the case before any row runs.
            "deep": [HEADER, [1, "x", "run_sheet", "middle"]],
            "middle": [HEADER, [1, "x", "run_sheet", "bottom"]],
            "bottom": [HEADER, [1, "x", "send_http", "GET", "/api/health"],
                       [2, "重试", "retry", 2, 0, 5]],
        })
        result = api_suite.runpytest_subprocess("-v", "-rf", "--alluredir=allure")
        # Sheets read as data or run by others are no cases; a data row is an item each.
        # Sheets that run each other without end stay cases (broken), not lost flows.
        result.assert_outcomes(passed=4, failed=2, errors=4)
        out = result.stdout.str()
        for passed in ("poll", "each user[alice-200]", "each user[张三-200]", "as alice"):
            assert f"test_linked.xlsx::{passed} PASSED" in out
        result.stdout.fnmatch_lines([
            "AssertionError: retry: the rows 2-3 did not pass in 2 tries",
            "  try 1: AssertionError: until: state == done does not hold: state is 'pending'",
            "  try 2: *",
        ])
        result.stdout.fnmatch_lines([
            "Workbook case 'each user?bob-200?' failed at row 4 (test_linked.xlsx, sheet "
            "'login', run by case 'each user?bob-200?')",
            "data: sheet 'users', row 4 (user='bob', password='***', code=200)",
            "*assert: 200 (int) equal 401 (int) is false",
            "run by row 3 of sheet 'each user' (run_sheet 'login')",
        ])
        for problem in ("row 2: retry's times (D) must be a whole number of tries of at least 1",
                        "row 2: retry repeats the 3 rows above it, but only 0 step rows stand",
                        "row 3: run_sheet: the workbook has no sheet 'logn', did you mean 'login'?",
                        "'broken': run_sheet runs sheets that run each other without end "
                        "(ping -> pong -> ping)",
                        "sheet 'pong': run_sheet runs sheets that run each other without end",
                        "sheet 'bottom', row 3: retry repeats the 5 rows above it, but only 1 "
                        "step rows stand above it\n"):
            assert problem in out
        results = {r["name"]: r for r in written_results(api_suite.path / "allure")}
        retry = results["poll"]["steps"][0]
        # Each try nests the rows it ran; the case that passed only on a later try is flaky.
        assert retry["name"] == "4 重试"
        assert [t["name"] for t in retry["steps"]] == ["第1次尝试", "第2次尝试", "第3次尝试"]
        assert [t["status"] for t in retry["steps"]] == ["failed", "failed", "passed"]
        assert [s["name"] for s in retry["steps"][2]["steps"]] == ["1 查询", "2 状态", "3 完成"]
        assert {"name": "tag", "value": "flaky"} in results["poll"]["labels"]
        call = results["as alice"]["steps"][0]
        assert [s["name"] for s in call["steps"]] == ["1 登录请求", "2 发送", "3 登录成功"]
        # A secret handed to the sheet is masked by its name.
        assert "password=***" in str(call["parameters"]) and "secret" not in str(call["parameters"])

    def test_set_driver_takes_its_fixture_through_the_mapping(self, api_suite):
        api_suite.makeconftest("""
            import pytest

            @pytest.fixture
            def not_a_browser():
                return "plain text"
            """)
        write_workbook(api_suite.path / "test_driver.xlsx", {
            "not a driver": [HEADER, [1, "", "set_driver", "not_a_browser"]],
            "no fixture": [HEADER, [1, "", "set_driver", "nothing_here"]],
        })
        result = api_suite.runpytest_subprocess("-rf")
        result.assert_outcomes(failed=2)
        result.stdout.fnmatch_lines([
            "*FAILED test_driver.xlsx::not a driver - row 2, set_driver: AssertionError",
            "*FAILED test_driver.xlsx::no fixture - row 2, set_driver: KeyError: 'nothing_here'",
        ])

    def test_each_case_closes_its_http_client(self, pytester, http_service, monkeypatch):
        pytester.makepyfile(my_keywords="""
            from lumox.actlib import KeyWord

            objects = []

            class MyKeyWord(KeyWord):
                def key_remember(self):
                    \"\"\"关键字：remember\"\"\"
                    objects.append(self)
            """)
        pytester.syspathinsert()
        import my_keywords

        monkeypatch.setattr(settings.lumox, "keyword_type", "my_keywords:MyKeyWord")
        monkeypatch.setattr(settings.lumox_api, "base_url", http_service)
        write_workbook(pytester.path / "test_own.xlsx", {
            "own keyword": [HEADER, [1, "", "send_http", "GET", "/api/health"],
                            [2, "", "remember"]]})
        pytester.runpytest("-p", "no:cacheprovider").assert_outcomes(passed=1)
        (keyword_object,) = my_keywords.objects
        assert keyword_object.client.is_closed


class TestTemplate:
    def test_template_has_a_case_sheet_and_the_keyword_list(self):
        workbook = openpyxl.load_workbook(TEMPLATE)
        assert workbook.sheetnames == ["active", "_key_word"]
        case = workbook["active"]
        header = [cell.value for cell in case[1]]
        assert header[:3] == ["编号", "描述", "关键字"] and header[3] == "参数1"
        assert case["C2"].value == "assert"
        assert case.freeze_panes == "A2"
        assert all(case.column_dimensions[c].width >= 8 for c in "ABCDEF")
        # The keyword list starts below its header; lumox start appends the rows.
        assert [row for row in workbook["_key_word"].values] == [("关键字", "说明", "参数")]

    def test_a_workbook_made_from_the_template_runs(self, pytester):
        # What `lumox start login` does with the template: keyword list, drop-down, rename.
        workbook = openpyxl.load_workbook(TEMPLATE)
        names = workbook["_key_word"]
        for name in KeyWord.all_keyword():
            names.append([name])
        case = workbook["active"]
        validation = DataValidation(type="list", formula1="=_key_word!$A:$A", allow_blank=True)
        validation.errorStyle = "warning"
        validation.error = "未知的关键字，可能会引起错误"
        validation.prompt = "可用从下拉菜单中选择"
        validation.promptTitle = "关键字"
        case.add_data_validation(validation)
        case.title = "login"
        validation.add("C1:C1048576")
        workbook.save(pytester.path / "test_login.xlsx")

        reread = openpyxl.load_workbook(pytester.path / "test_login.xlsx")
        assert [row[0] for row in reread["_key_word"].values] == ["关键字", *KeyWord.all_keyword()]
        result = pytester.runpytest("-p", "no:cacheprovider", "-v")
        result.assert_outcomes(passed=1)
        result.stdout.fnmatch_lines(["test_login.xlsx::login PASSED*"])


def test_demo_workbooks_run_against_the_demo_service(api_suite):
    shutil.copy(EXAMPLES / "test_04_keywords.xlsx", api_suite.path)
    shutil.copy(EXAMPLES / "test_05_web.xlsx", api_suite.path)  # in headless Chromium
    shutil.copy(EXAMPLES / "test_08_linked_sheets.xlsx", api_suite.path)
    shutil.copytree(EXAMPLES / "data", api_suite.path / "data")
    result = api_suite.runpytest_subprocess("-v")
    result.assert_outcomes(passed=9)


MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
DOC_REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PART_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.{}+xml"
# Cell formats 0..3: General, builtin "0.00", custom "#,##0.000", custom date.
STYLES = f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="{MAIN_NS}"><numFmts count="2"><numFmt numFmtId="164" formatCode="#,##0.000"/>
<numFmt numFmtId="165" formatCode="yyyy-mm-dd"/></numFmts><fonts count="1"><font><sz val="11"/>
<name val="Calibri"/></font></fonts><fills count="1"><fill><patternFill patternType="none"/></fill>
</fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="2" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="165" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>"""
EXCEL_SHEET = (
    f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<worksheet xmlns="{MAIN_NS}" '
    f'xmlns:r="{DOC_REL_NS}" '
    'xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" '
    'xmlns:x14ac="http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac" '
    'mc:Ignorable="x14ac">'
    '<dimension ref="A1"/><sheetViews><sheetView workbookViewId="0"/></sheetViews>'
    '<sheetFormatPr defaultRowHeight="15" x14ac:dyDescent="0.25"/><sheetData>{}</sheetData>'
    '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
    '</worksheet>')


def xlsx_package(sheets, shared=None, sheet_xml=EXCEL_SHEET):
    """The bytes of an .xlsx package laid out by hand, as spreadsheet programs write them:
    `sheets` maps titles to the XML inside <sheetData>, listed in reverse order of their
    parts; `shared` is the XML inside <sst>."""
    titles = list(sheets)
    overrides = "".join(
        f'<Override PartName="/xl/worksheets/sheet{i}.xml" '
        f'ContentType="{PART_TYPE.format("worksheet")}"/>'
        for i in range(1, len(titles) + 1))
    if shared is not None:
        overrides += ('<Override PartName="/xl/sharedStrings.xml" '
                      f'ContentType="{PART_TYPE.format("sharedStrings")}"/>')
    relationships = "".join(
        # The first by an absolute target, as some programs write them.
        f'<Relationship Id="rId{i}" Type="{DOC_REL_NS}/worksheet" '
        f'Target="{"/xl/" if i == 1 else ""}worksheets/sheet{i}.xml"/>'
        for i in range(1, len(titles) + 1))
    relationships += f'<Relationship Id="rIdS" Type="{DOC_REL_NS}/styles" Target="styles.xml"/>'
    entries = "".join(f'<sheet name="{title}" sheetId="{i}" r:id="rId{i}"/>'
                      for i, title in reversed(list(enumerate(titles, 1))))
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("[Content_Types].xml", (
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Types xmlns='
            '"http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" '
            'ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" '
            f'ContentType="{PART_TYPE.format("sheet.main")}"/><Override PartName="/xl/styles.xml" '
            f'ContentType="{PART_TYPE.format("styles")}"/>{overrides}</Types>'))
        archive.writestr("_rels/.rels", (
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'<Relationship Id="rId1" Type="{DOC_REL_NS}/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>'))
        archive.writestr("xl/workbook.xml", (
            f'<workbook xmlns="{MAIN_NS}" xmlns:r="{DOC_REL_NS}"><workbookPr/>'
            f'<bookViews><workbookView/></bookViews><sheets>{entries}</sheets></workbook>'))
        archive.writestr("xl/_rels/workbook.xml.rels", (
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'{relationships}</Relationships>'))
        archive.writestr("xl/styles.xml", STYLES)
        if shared is not None:
            archive.writestr("xl/sharedStrings.xml", f'<sst xmlns="{MAIN_NS}">{shared}</sst>')
        for i, title in enumerate(titles, 1):
            archive.writestr(f"xl/worksheets/sheet{i}.xml", sheet_xml.format(sheets[title]))
    return data.getvalue()


def sheet_rows(data, own_reader):
    """What a reader gives, without the empty rows openpyxl adds; each value with its type."""
    sheets = workbooks._sheet_rows(data, own_reader)
    if sheets is None:
        return None
    return [(title, [(number, [(type(v).__name__, v) for v in cells]) for number, cells in rows
                     if cells]) for title, rows in sheets]


EXCEL_STRINGS = (
    '<si><t>编号</t></si><si><t xml:space="preserve"> padded </t></si>'
    '<si><r><rPr><b/></rPr><t>rich</t></r><r><t xml:space="preserve"> text</t></r>'
    '<rPh sb="0" eb="1"><t>ふり</t></rPh><phoneticPr fontId="1"/></si>'
    '<si><t>a&amp;b &lt;c&gt; &quot;&apos; &#x4E2D;&#13;|&#9;</t></si>'
    '<si><t>line1\r\nline2\rline3\nend</t></si>'
    '<si><t><![CDATA[<raw> & ]]>x<!-- note -->y</t></si>'
    '<si><t>_x005F_x000D_ and x005F_</t></si><si><t/></si><si><t>assert</t></si>')
EXCEL_ROWS = (
    '<row r="1" spans="1:4" x14ac:dyDescent="0.25"><c r="A1" t="s"><v>0</v></c>'
    '<c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>8</v></c></row>'
    '<row r="2"><c r="A2"><v>1</v></c><c r="B2" t="s"><v>2</v></c><c r="C2" t="s"><v> 8 </v></c>'
    '<c r="D2"><v>2.50</v></c><c r="E2"><v>1E3</v></c><c r="F2"><v>-0</v></c>'
    '<c r="G2" s="1"><v>3</v></c><c r="H2" s="2"><v>12345.678</v></c><c r="J2" t="b"><v>1</v></c>'
    '<c r="K2" t="b"><v>0</v></c><c r="L2" t="e"><v>#N/A</v></c><c r="M2" s="2"/></row>'
    '<row r="4" customHeight="1"><c r="A4" t="s"><v>3</v></c><c r="B4" t="s"><v>4</v></c>'
    '<c r="C4" t="str"><f>"as"&amp;"sert"</f><v>assert</v></c><c r="D4"><f>1+1</f><v>2</v></c>'
    '<c r="E4"><f t="shared" ref="E4:F4" si="0">D4*2</f><v>4</v></c>'
    '<c r="F4"><f t="shared" si="0"/><v>8</v></c><c r="G4" t="s"><v>5</v></c>'
    '<c r="H4" t="s"><v>6</v></c><c r="I4" t="s"><v>7</v></c><c r="J4"><v></v></c></row>'
    '<row r="5"><c r="C5" t="inlineStr"><is><t>inline</t></is></c>'
    '<c r="D5" t="inlineStr"><is><r><t>in</t></r><r><t>line</t></r></is></c>'
    '<c r="E5" t="inlineStr"><is/></c><c r="F5" t="inlineStr"/><c r="XFD5"><v>9</v></c></row>'
    '<row r="7" spans="1:3"/>')
# Rows and cells without references count on from the one before.
UNREFERENCED_ROWS = ('<row><c><v>1</v></c><c t="s"><v>8</v></c></row><row r="3"><c r="B3"><v>2</v>'
                     '</c><c><v>3</v></c></row><row><c t="inlineStr"><is><t>x</t></is></c></row>')


class TestPackageReader:
    @pytest.mark.parametrize("sheets", [
        {"excel": EXCEL_ROWS, "second": UNREFERENCED_ROWS, "empty": ""},
        {"no shared strings":
         '<row r="2"><c r="C2" t="inlineStr"><is><t>assert</t></is></c></row>'},
    ], ids=["excel", "inline"])
    def test_reads_the_values_openpyxl_reads(self, sheets):
        data = xlsx_package(sheets, EXCEL_STRINGS if "excel" in sheets else None)
        own = sheet_rows(data, own_reader=True)
        assert own is not None
        assert own == sheet_rows(data, own_reader=False)
        if "excel" in sheets:
            # The comparison saw the values that matter, in the workbook's sheet order.
            assert [title for title, _ in own] == ["empty", "second", "excel"]
            row2 = dict(own[2][1])[2]
            assert row2[:5] == [("int", 1), ("str", "rich text"), ("str", "assert"),
                                ("float", 2.5), ("float", 1000.0)]
            row4 = dict(own[2][1])[4]
            assert row4[:2] + row4[6:9] == [
                ("str", "a&b <c> \"' 中\r|\t"), ("str", "line1\nline2\nline3\nend"),
                ("str", "<raw> & xy"), ("str", "_x000D_ and "), ("str", "")]

    def test_workbooks_it_is_not_sure_of_are_left_to_openpyxl(self, suite):
        date = ('<row r="2"><c r="C2" t="inlineStr"><is><t>record</t></is></c>'
                '<c r="D2" s="3"><v>45413</v></c></row>')
        iso_date = '<row r="2"><c r="D2" t="d"><v>2024-05-01T08:30:00</v></c></row>'
        for rows in (date, iso_date):
            data = xlsx_package({"dates": rows})
            assert sheet_rows(data, own_reader=True) is None
            value = workbooks._sheet_rows(data, False)[0][1][1][1][3]
            assert value.date() == datetime.date(2024, 5, 1)
        # The part's namespace under a prefix, a document type declaration: openpyxl reads
        # them, and the cases run as they would from a plain package.
        rows = ('<x:row r="1"><x:c r="C1" t="inlineStr"><x:is><x:t>关键字</x:t></x:is></x:c>'
                '</x:row>'
                '<x:row r="2"><x:c r="C2" t="inlineStr"><x:is><x:t>record</x:t></x:is></x:c>'
                '<x:c r="D2"><x:v>7</x:v></x:c>'
                '<x:c r="E2" t="inlineStr"><x:is><x:t>a</x:t></x:is></x:c></x:row>')
        prefixed = EXCEL_SHEET.replace(f'<worksheet xmlns="{MAIN_NS}"',
                                       f'<x:worksheet xmlns:x="{MAIN_NS}"')
        prefixed = prefixed.replace("</worksheet>", "</x:worksheet>")
        prefixed = prefixed.replace("sheetData>", "x:sheetData>")
        data = xlsx_package({"prefixed": rows}, sheet_xml=prefixed)
        assert sheet_rows(data, own_reader=True) is None
        (suite.path / "test_prefixed.xlsx").write_bytes(data)
        doctype = EXCEL_SHEET.replace("\r\n<worksheet", "\r\n<!DOCTYPE worksheet>\r\n<worksheet")
        (suite.path / "test_doctype.xlsx").write_bytes(
            xlsx_package({"doctype": rows.replace("x:", "")}, sheet_xml=doctype))
        suite.runpytest().assert_outcomes(passed=2)
        assert [entry[2] for entry in recorded_calls(suite)
                if entry[0] == "record"] == [(7, "a")] * 2
