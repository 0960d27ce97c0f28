"""Keyword cases in workbooks (test_*.xlsx): collection, steps, {name} references, fixtures,
failure reports, broken files, the shipped template and the demo workbook.

Suites that only need the runner run in-process with a recording keyword class
(`[lumox] keyword_type` pointing at it); suites that use the real keyword libraries run
in a subprocess with their own pytest.ini, since settings are read when lumox loads.
"""

import ast
import gc
import shutil
import sys
import textwrap
import zipfile
from pathlib import Path

import openpyxl
import pytest
from openpyxl.worksheet.datavalidation import DataValidation

from lumox import settings, steps, templates
from lumox.actlib import KeyWord
from report_steps import report_steps  # noqa: F401  (fixture)

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
        suite.runpytest().assert_outcomes(passed=1)
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
        assert workbook["_key_word"].max_row == 1 and workbook["_key_word"]["A1"].value is None

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
        assert [row[0] for row in reread["_key_word"].values] == list(KeyWord.all_keyword())
        result = pytester.runpytest("-p", "no:cacheprovider", "-v")
        result.assert_outcomes(passed=1)
        result.stdout.fnmatch_lines(["test_login.xlsx::login PASSED*"])


def test_demo_workbooks_run_against_the_demo_service(api_suite):
    shutil.copy(EXAMPLES / "test_04_keywords.xlsx", api_suite.path)
    shutil.copy(EXAMPLES / "test_05_web.xlsx", api_suite.path)  # in headless Chromium
    shutil.copytree(EXAMPLES / "data", api_suite.path / "data")
    result = api_suite.runpytest_subprocess("-v")
    result.assert_outcomes(passed=5)
