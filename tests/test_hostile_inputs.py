"""Inputs a hostile or careless tester writes: values that contain themselves, documents that
expand without end, templates that try to reach Python's internals, text that is no text,
and marks with text conditions. Each gives a clear error (or the right result) in a
subprocess run, so that a crash would show as one, and the other files still run."""

import textwrap
import zipfile

from test_workbooks import HEADER, write_pytest_ini, write_workbook

# Nine levels of nine aliases: 9**9 leaves when expanded, a few hundred bytes as written.
LAUGHS = "\n".join(["      a0: &a0 [x, x, x, x, x, x, x, x, x]"] + [
    f"      a{i}: &a{i} [{', '.join([f'*a{i - 1}'] * 9)}]" for i in range(1, 9)])

CASES = {
    "test_selfref.yaml": """\
        test_name: request refers to itself
        steps:
          - request: {method: POST, url: /api/echo, json: &a [1, *a]}
        """,
    "test_response.yaml": """\
        test_name: response refers to itself
        steps:
          - request: {method: GET, url: /api/health}
            response: {json: &a {$.status: {value: *a}}}
        """,
    "test_vars.yaml": """\
        test_name: variables refer to themselves
        steps:
          - request: {method: POST, url: /api/echo, json: '{{ looped }}'}
        ---
        test_name: variables expand without end
        steps:
          - request: {method: POST, url: /api/echo, json: '{{ laughs }}'}
        """,
    "test_laughs.yaml": "test_name: billion laughs\nsteps:\n  - request:\n"
                        "      method: POST\n      url: /api/echo\n      json:\n"
                        + textwrap.indent(LAUGHS, "  ") + "\n",
    "test_sandbox.yaml": """\
        test_name: cycler globals
        steps:
          - request: {method: POST, url: /api/echo, json: "{{ cycler.__init__.__globals__.os.popen('id').read() }}"}
        ---
        test_name: lipsum globals
        steps:
          - request: {method: POST, url: /api/echo, json: "{{ lipsum.__globals__ }}"}
        ---
        test_name: subclasses
        steps:
          - request: {method: POST, url: /api/echo, json: "{{ ''.__class__.__mro__[1].__subclasses__() }}"}
        ---
        test_name: ordinary templates still work
        steps:
          - request: {method: POST, url: /api/echo, json: {sum: '{{ [1, 2, 3] | sum }}', upper: '{{ "a b".upper() }}'}}
            response: {json: {$.json.sum: 6, $.json.upper: A B}}
        """,  # noqa: E501  (test data)
    # 5,000 levels: PyYAML's representer of the failure report ran out of stack, and the
    # report hook's error ended the run.
    "test_deep.yaml": "test_name: nested deep\nsteps:\n  - request: {method: POST, url: /api/echo, "
                      "json: " + "[" * 5000 + "1" + "]" * 5000 + "}\n",
    # Nested repeats backtrack without end in Python's re: each held the run for minutes.
    "test_regex.yaml": "test_name: nested repeats in validate\nsteps:\n"
                       "  - request: {method: POST, url: /api/echo, json: {s: " + "a" * 40 + "!}}\n"
                       "    extract: {s: [json, $.json.s]}\n"
                       "    validate: {s: {value: '^(a+)+$', mode: re}}\n"
                       "---\ntest_name: nested repeats in extract\nsteps:\n"
                       "  - request: {method: POST, url: /api/echo, json: {s: " + "a" * 1_000_000
                       + "}}\n    extract: {v: [text, '(a*)*b']}\n",
    "test_surrogates.yaml": 'test_name: "bad \\ud800 name"\nsteps:\n'
                            '  - request: {method: GET, url: /api/health}\n',
    "test_surrogate_value.yaml": """\
        test_name: surrogate in a value
        steps:
          - request: {method: GET, url: "/api/health?q=\\ud800"}
        """,
    "test_marks.yaml": """\
        test_name: skipped by a text condition
        marks:
          - skipif: "sys.platform.startswith('linux') and marker == 'on'"
        steps:
          - request: {method: GET, url: /api/health}
        ---
        test_name: xfail by a text condition
        marks:
          - xfail: "True"
        steps:
          - request: {method: GET, url: /api/health}
            response: {status_code: 500}
        """,
}

VARIABLES = "looped: &b [1, *b]\nmarker: 'on'\nlaughs:\n" + LAUGHS + "\n"


def rewrite_part(path, part, change):
    """Replaces the part `part` of the workbook package at `path` by change(its text)."""
    with zipfile.ZipFile(path) as source:
        parts = {item.filename: source.read(item.filename) for item in source.infolist()}
    parts[part] = change(parts[part].decode()).encode()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        for name, data in parts.items():
            target.writestr(name, data)


def with_rows(rows):
    return lambda sheet: sheet.replace("</sheetData>", rows + "</sheetData>").replace(
        "<sheetData />", f"<sheetData>{rows}</sheetData>")


def write_wide_notes(path):
    """A 0.5 MB workbook: a one-row case, and a sheet of 100,000 notes in column ZZZ. Each
    note row became an 18,278-slot tuple (6 GB), and the run was interrupted."""
    write_workbook(path, {"case": [HEADER, [1, "", "assert", 1, "equal", 1]], "notes": [["n"]]})
    rewrite_part(path, "xl/worksheets/sheet2.xml", with_rows("".join(
        f'<row r="{i}"><c r="ZZZ{i}" t="inlineStr"><is><t>n</t></is></c></row>'
        for i in range(2, 100_001))))


def write_expanding_books(folder):
    """A 60 KB workbook whose sheet expands to 60 MB of blanks (3 GB took 6.3 GB of memory),
    and 1,000 sheet entries naming one part of 1,200 cells (each was read again: minutes)."""
    write_workbook(folder / "test_blanks.xlsx", {"case": [HEADER]})
    rewrite_part(folder / "test_blanks.xlsx", "xl/worksheets/sheet1.xml",
                 with_rows(" " * (60 << 20)))
    write_workbook(folder / "test_repeated.xlsx", {"case": [HEADER]})
    rewrite_part(folder / "test_repeated.xlsx", "xl/worksheets/sheet1.xml", with_rows("".join(
        f'<row r="{i}"><c r="A{i}"><v>1</v></c><c r="B{i}"><v>2</v></c></row>'
        for i in range(2, 602))))
    rewrite_part(folder / "test_repeated.xlsx", "xl/workbook.xml", lambda book: book.replace(
        "</sheets>", "".join(f'<sheet name="s{i}" sheetId="{i}" r:id="rId1" />'
                             for i in range(2, 1002)) + "</sheets>"))


def test_hostile_yaml_inputs_fail_clearly_and_the_rest_runs(pytester, http_service,
                                                           monkeypatch):
    monkeypatch.setenv("COLUMNS", "300")
    write_pytest_ini(pytester, f"""\
        [pytest]
        addopts = -p no:cacheprovider
        [lumox]
        vars_file = vars.yaml
        vars_save = false
        [lumox_api]
        base_url = {http_service}
        """)
    (pytester.path / "vars.yaml").write_text(VARIABLES)
    for name, text in CASES.items():
        (pytester.path / name).write_text(textwrap.dedent(text) if "\n    " in text else text)
    write_workbook(pytester.path / "test_book.xlsx", {
        "looped in a text": [HEADER, [1, "", "assert", "x{looped}", "equal", "x"]],
        "laughs in a text": [HEADER, [1, "", "assert", "x{laughs}", "equal", "x"]],
    })
    write_wide_notes(pytester.path / "test_wide.xlsx")
    write_expanding_books(pytester.path)

    result = pytester.runpytest_subprocess("-rfEsx", timeout=120)
    assert result.ret == 1  # failures, not a crash or an interrupted run
    result.assert_outcomes(failed=14, passed=2, skipped=2, xfailed=1, errors=3)
    error = "*lumox.templates.TemplateError: "
    result.stdout.fnmatch_lines_random([
        f"FAILED test_selfref.yaml::request refers to itself - {error}request.json[[]1[]] "
        "refers to itself: a value that contains itself cannot be sent",
        f"FAILED test_response.yaml::response refers to itself - {error}"
        "response.json.$.status.value refers to itself*",
        f"FAILED test_vars.yaml::variables refer to themselves - {error}request.json[[]1[]] "
        "refers to itself*",
        f"FAILED test_vars.yaml::variables expand without end - {error}request.json.a8* makes "
        "the step larger than 50 MB when written out",
        f"FAILED test_laughs.yaml::billion laughs - {error}request.json.a8* makes the step "
        "larger than 50 MB when written out",
        f"FAILED test_sandbox.yaml::cycler globals - {error}unsafe template "
        "(jinja2.exceptions.SecurityError): access to attribute '__init__'*",
        f"FAILED test_sandbox.yaml::lipsum globals - {error}unsafe template*__globals__*",
        f"FAILED test_sandbox.yaml::subclasses - {error}unsafe template*",
        f"FAILED test_surrogate_value.yaml::surrogate in a value - {error}request.url holds a "
        "lone surrogate*",
        "test_surrogates.yaml, document 1 (line 1): test_name 'bad \\ud800 name' holds a lone "
        "surrogate*",
        "SKIPPED *test_marks.yaml*condition: sys.platform*",
        "FAILED test_regex.yaml::nested repeats in validate - RuntimeError: s: regular "
        "expression '^(a+)+$' gave up after 10000000 backtracking steps on a text of 41 bytes*",
        "FAILED test_regex.yaml::nested repeats in extract - RuntimeError: extract 'v': regular "
        "expression '(a*)*b' gave up after*",
        "FAILED test_deep.yaml::nested deep - *",
        "lumox.templates.TemplateError: request.json[[]0[]][[]0[]]* is nested more than 200 "
        "levels deep",
        "    {'request': {'json': [[][[][[]*[[]...[]]*, 'method': 'POST', 'url': '/api/echo'}}",
        "    (nested too deeply to show in full)",
        "test_blanks.xlsx: cannot be read as a workbook: its part "
        "xl/worksheets/sheet1.xml expands to 60 MB, more than the 50 MB a part may hold",
        "test_repeated.xlsx: cannot be read as a workbook: its sheets hold more than 500000 "
        "cells (sheet 's415', part xl/worksheets/sheet1.xml)",
        "FAILED test_book.xlsx::looped in a text - row 2, assert: ValueError: variable 'looped' "
        "cannot be written into the text: [[]1[]] refers to itself*",
        "FAILED test_book.xlsx::laughs in a text - row 2, assert: ValueError: variable 'laughs' "
        "cannot be written into the text: a8* makes the step larger than 50 MB*",
    ])
    assert "uid=" not in result.stdout.str()  # no command ran


def test_credentials_stay_out_of_reports_and_report_steps(pytester, http_service, monkeypatch,
                                                          closed_port):
    monkeypatch.setenv("COLUMNS", "300")
    write_pytest_ini(pytester, f"""\
        [pytest]
        addopts = -p no:cacheprovider
        [lumox_api]
        base_url = {http_service}
        """)
    (pytester.path / "test_login.yaml").write_text(textwrap.dedent("""\
        test_name: secret headers
        steps:
          - request:
              method: GET
              url: /api/echo
              headers: {Authorization: Bearer tok-secret, X-Trace: t1}
              cookies: {session: s-secret}
            response: {status_code: 201}
        """))
    # Refused inside httpx: -l and --fulltrace listed the headers among its frames' locals.
    (pytester.path / "test_refused.yaml").write_text(textwrap.dedent(f"""\
        test_name: refused
        steps:
          - request:
              method: GET
              url: http://127.0.0.1:{closed_port}/x
              headers: {{Authorization: Bearer tok-secret}}
              cookies: {{session: s-secret}}
        """))
    write_workbook(pytester.path / "test_keys.xlsx", {"secret keywords": [
        HEADER,
        [1, "", "set_headers", '{"X-Api-Key": "k-secret", "Accept": "text/plain"}'],
        [2, "", "add_header", "Authorization", "Bearer wb-secret"],
        [3, "", "add_cookie", "session", "c-secret"],
        [4, "", "send_http", "GET", "/api/echo"],
        [5, "", "add_header", "Authorization", "Bearer wb-secret"],
        [6, "", "assert", 1, "equal", 2],
    ]})
    # The HTTP log and the keyword lines reach the console and junit.xml this way; the
    # echoing server returns the credentials in its bodies.
    result = pytester.runpytest_subprocess("--alluredir=allure", "--log-cli-level=DEBUG",
                                           "-o", "junit_logging=all", "--junitxml=junit.xml",
                                           "-l", "--fulltrace")
    result.assert_outcomes(failed=3)
    written = result.stdout.str() + "".join(
        path.read_text(encoding="utf-8", errors="replace")
        for path in [*(pytester.path / "allure").iterdir(), pytester.path / "junit.xml"])
    for secret in ["tok-secret", "s-secret", "wb-secret", "c-secret", "k-secret"]:
        assert secret not in written
    # What is not a credential is shown as it was.
    assert "Authorization: Bearer ***" in result.stdout.str() and "X-Trace: t1" in written
    assert "text/plain" in written and "'Bearer ***'" in written
