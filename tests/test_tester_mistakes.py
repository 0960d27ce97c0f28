"""The mistakes testers make every day, each run as a tester would meet it: none may pass,
and each message names the place and what to change."""

import subprocess
import sys
import textwrap

import openpyxl
import pytest
from openpyxl.worksheet.formula import ArrayFormula

from test_workbooks import HEADER, write_pytest_ini, write_workbook

INI = """\
    [pytest]
    addopts = -p no:cacheprovider
    filterwarnings = error
    [lumox_api]
    base_url = {base}
    """

MISSPELT_CASES = """\
    test_name: misspelt response
    steps:
      - request: {method: GET, url: /api/status/500}
        reponse: {status_code: 200}
    ---
    test_name: misspelt request
    steps:
      - requets: {method: GET, url: /api/health}
    ---
    test_name: misspelt extract and mark
    mark: [skip]
    steps:
      - request: {method: GET, url: /api/health}
        extarct: {status: [json, $.status]}
    ---
    test_nmae: misspelt name
    steps: []
    ---
    test_name: two bodies and bad extracts
    steps:
      - request: {method: POST, url: /api/echo, json: {a: 1}, data: {b: 2}}
        extract: {token: abc, pair: [json, $.a, 0, 1]}
    ---
    test_name: misspelt inside the sections
    steps:
      - request: {method: PSOT, url: /api/echo, jsno: {a: 1}}
        response: {status_cod: 200}
      - request: {method: PROPFIND, url: /api/echo}
    ---
    test_name: wrong value types
    steps:
      - request: {method: GET, url: /api/health, timeout: abc, headers: {X-Id: 5}}
        response: {status_code: ok, json: {$.status: {value: ok, mode: regex}}}
        validate: {status: [ok], day: 2024-01-01}
        extract: {status: [jsn, $.status], length: [content, "(.*)"], tpl: "{{ pair }}"}
      - request: {method: 5}
    """

OTHER_PLUGINS_KEY = """\
    test_name: a key of another plug-in
    steps:
      - sql: select 1
        mock: {}
    """


def test_misspelt_keys_and_workbook_layouts_are_collection_errors(pytester, http_service):
    write_pytest_ini(pytester, INI.format(base=http_service))
    pytester.makefile(".yaml", test_misspelt=textwrap.dedent(MISSPELT_CASES),
                      test_other=textwrap.dedent(OTHER_PLUGINS_KEY))
    write_workbook(pytester.path / "test_no_header.xlsx", {"登录": [
        [1, "", "send_http", "GET", "/api/health"],
        [2, "", "assert", 200, "equal", "{resp_code}"]]})
    workbook = openpyxl.Workbook()
    sheet = workbook.active
    sheet.title = "formula"
    sheet.append(HEADER)
    sheet.append([1, "", '="as"&"sert"', 1, "equal", 1])
    sheet.append([2, "", "send_http", "GET", '="/api/"&"health"'])
    # An array formula with no value saved dropped its row, and the case passed.
    sheet.append([3, "", "assert", 1, "equal", 2])
    sheet["C4"] = ArrayFormula("C4", '=UPPER("x")')
    # A mistake on one sheet is that case's alone: the other sheets run.
    workbook.create_sheet("sound").append(HEADER)
    workbook["sound"].append([1, "", "assert", 1, "equal", 1])
    workbook.save(pytester.path / "test_formula.xlsx")
    # Syntax mistakes: PyYAML's "found unhashable key" and the like, with no word of the cause.
    pytester.makefile(".yaml", test_braces="test_name: a\nsteps:\n  - request: {method: GET, "
                      "url: /x}\n    validate:\n      tok: {{ tok }}\n",
                      test_tab="test_name: a\nsteps:\n\t- request: {method: GET, url: /x}\n",
                      test_glued="test_name: a\nsteps:\n  - request:\n      method:GET\n"
                      "      url: /x\n")

    result = pytester.runpytest_subprocess()
    # Each broken YAML case is an error of its own (one stopped its whole file); only the
    # other plug-in's key runs.
    result.assert_outcomes(passed=2, errors=12)
    out = result.stdout.str()
    where = "test_misspelt.yaml, document"
    for line in [
        f"{where} 1 (line 1), case 'misspelt response', step 1: unknown step key 'reponse', "
        "did you mean 'response'?",
        f"{where} 2 (line 6), case 'misspelt request', step 1: unknown step key 'requets', "
        "did you mean 'request'?",
        f"{where} 3 (line 10), case 'misspelt extract and mark': unknown case key 'mark', "
        "did you mean 'marks'?",
        f"{where} 3 (line 10), case 'misspelt extract and mark', step 1: unknown step key "
        "'extarct', did you mean 'extract'?",
        f"{where} 4 (line 16): test_name is missing; the case has 'test_nmae', did you mean "
        "'test_name'?",
        f"{where} 5 (line 19), case 'two bodies and bad extracts', step 1: the request has both "
        "'json' and 'data', and would send only one of them as its body",
        "step 1: extract 'token' must be a list [attr, expr] or [attr, expr, index], such as "
        "[json, '$.token'], not text 'abc'",
        "step 1: extract 'pair' must be a list [attr, expr] or [attr, expr, index], such as "
        "[json, '$.token'], not a list of 4 items",
        # These reached httpx and the response check as "unexpected keyword argument", and
        # PSOT was sent; a method of its own (PROPFIND) stays the tester's.
        f"{where} 6 (line 24), case 'misspelt inside the sections', step 1: unknown response "
        "key 'status_cod', did you mean 'status_code'?",
        f"{where} 6 (line 24), case 'misspelt inside the sections', step 1: unknown request key "
        "'jsno', did you mean 'json'?",
        f"{where} 6 (line 24), case 'misspelt inside the sections', step 1: method 'PSOT' is not "
        "an HTTP method, did you mean 'POST'?",
        # Wrong value types reached httpx or the check as Python errors.
        f"{where} 7 (line 30), case 'wrong value types', step 1: request.timeout must be a "
        "number (0 or more), null or a whole {{ ... }} template, got text 'abc'",
        "step 1: request.headers.X-Id must be text, got int 5",
        "step 1: response.status_code must be a whole number, a whole {{ ... }} template, status "
        'code patterns as text, such as "200 | 204" or "2??"',
        "step 1: response.json['$.status'].mode must be one of glob, same, re, contains or a "
        "whole {{ ... }} template, got text 'regex'",
        "step 1: validate.status must be text, a number, true/false, null or a mapping, got a "
        "list ['ok']",
        "step 1: extract.status[0] 'jsn' is not one of json, text, headers, cookies, "
        "status_code, str, did you mean 'json'?",
        "case 'wrong value types', step 2: request.method must be one of GET, POST, PUT, "
        "PATCH, DELETE, HEAD, OPTIONS, TRACE",
        "case 'wrong value types', step 2: request.url is missing",
        "test_no_header.xlsx, sheet '登录': row 1 is the header row; steps start at row 2 (C1 "
        "holds the keyword 'send_http'",
        "test_formula.xlsx, sheet 'formula': cell C2 holds the formula '=\"as\"&\"sert\"' with "
        "no value saved: open and save the workbook in Excel or LibreOffice",
        "test_formula.xlsx, sheet 'formula': cell E3 holds the formula '=\"/api/\"&\"health\"'",
        "test_formula.xlsx, sheet 'formula': cell C4 holds the formula '=UPPER(\"x\")' with no "
        "value saved",
        'hint: quote a value that starts with {{, as in tok: "{{ tok }}"; unquoted, YAML reads '
        "{ as the start of a mapping",
        "hint: YAML indents with blanks, not tabs: line 3 holds a tab",
        "hint: line 4 has 'method:GET' with no blank after ':', so YAML reads it as one text; "
        "write 'method: GET'",
    ]:
        assert line in out
    # Other methods and other response attributes (content) are the tester's own.
    # ... and so are a date (YAML reads 2024-01-01 as one) and an extract from a template.
    assert "PROPFIND" not in out and "extract.length" not in out
    assert "validate.day" not in out and "'tpl'" not in out

    # With strict_steps every key lumox does not know is an error, not only near misses.
    write_pytest_ini(pytester, INI.format(base=http_service).rstrip(" ")
                     + "    [lumox]\n    strict_steps = true\n")
    result = pytester.runpytest_subprocess("test_other.yaml")
    result.assert_outcomes(errors=1)
    assert ("case 'a key of another plug-in', step 1: unknown step key 'sql' (step keys: "
            "request, response, extract, validate, mock, retry, use, with; [lumox] strict_steps = "
            "true allows no others)") in result.stdout.str()


FAILING_CASES = """\
    test_name: invalid jsonpath
    steps:
      - request: {method: GET, url: /api/health}
        extract: {status: [json, "$.[[[?"]}
    ---
    test_name: index past the matches
    steps:
      - request: {method: GET, url: /api/items}
        extract: {tenth: [json, "$[*].name", 9]}
    ---
    test_name: unknown attribute
    steps:
      - request: {method: GET, url: /api/health}
        extract: {status: [body, $.status]}
    ---
    test_name: nothing found
    steps:
      - request: {method: GET, url: /api/health}
        extract: {tok: [json, $.token]}
      - request:
          method: GET
          url: /api/health
          headers: {Authorization: "Bearer {{ tok }}"}
        validate: {tok: tok-*}
    ---
    test_name: glob characters
    steps:
      - request: {method: GET, url: /api/health}
        extract: {kw_q: [str, '["lumox"]']}
        validate: {kw_q: '["lumox"]'}
    ---
    test_name: glob characters in a response check
    steps:
      - request: {method: GET, url: /api/health}
        response: {text: '["ok"]'}
    """


@pytest.mark.usefixtures("wide_terminal")
def test_failures_explain_values_patterns_and_extractions(pytester, http_service):
    write_pytest_ini(pytester, INI.format(base=http_service))
    pytester.makefile(".yaml", test_failing=textwrap.dedent(FAILING_CASES))
    write_workbook(pytester.path / "test_keywords.xlsx", {
        "types differ": [HEADER, [1, "", "send_http", "GET", "/api/health"],
                         [2, "", "assert", "200", "equal", "{resp_code}"]],
        "unknown assertion": [HEADER, [1, "", "assert", 1, "equals", 1]],
        "unknown keyword": [HEADER, [1, "", "send_htp", "GET", "/api/health"]],
        "scheme": [HEADER, [1, "", "assert", '{"user": {"id": 1}}', "scheme",
                            '{"user": {"id": "1"}}']],
        "contains": [HEADER, [1, "", "assert", "hello lumox", "contains", "bye"]],
        "invalid jsonpath": [HEADER, [1, "", "send_http", "GET", "/api/health"],
                             [2, "", "save_jsonpath", "s", "$.[[[?"]],
    })
    result = pytester.runpytest_subprocess("-rf")
    result.assert_outcomes(failed=12)
    result.stdout.fnmatch_lines([
        "FAILED test_failing.yaml::invalid jsonpath - ValueError: extract 'status': '$.[[[?' is "
        "not a valid JSONPath: unclosed [",
        "FAILED test_failing.yaml::index past the matches - IndexError: extract 'tenth': index 9 "
        "is past the 2 match(es) of '$[*].name' in json (indexes start at 0)",
        "FAILED test_failing.yaml::unknown attribute - AttributeError: extract 'status': the "
        "response has no 'body'; extract from json, text, content, headers, cookies, status_code*",
        "FAILED test_failing.yaml::nothing found - AssertionError: tok is 'not data' and does not "
        "match the pattern*",
        "FAILED test_keywords.xlsx::types differ - row 3, assert: AssertionError: assert: '200' "
        "(str) equal 200 (int) is false; they look the same but their types differ*",
        "FAILED test_keywords.xlsx::unknown assertion - row 2, assert: AssertionError: "
        "未知的断言方法",
        "FAILED test_keywords.xlsx::unknown keyword - row 2, send_htp: AttributeError: "
        "不存在的关键字：send_htp",
        "FAILED test_keywords.xlsx::contains - row 2, assert: AssertionError: assert: 'bye' (str) "
        "was looked for in 'hello lumox' (str) and not found",
        "FAILED test_keywords.xlsx::invalid jsonpath - row 3, save_jsonpath: ValueError: "
        "save_jsonpath: '$.[[[?' is not a valid JSONPath: unclosed [",
    ])
    out = result.stdout.str()
    for note in [
        # where the "not data" came from, in the report of the case that used it
        "tok is 'not data': step 1: extract 'tok': '$.token' found nothing in json",
        "validate: kw_q is '[\"lumox\"]'; the pattern as written: '[\"lumox\"]' (mode glob); in a "
        "glob pattern [ starts a set of characters and * and ? are wildcards, so the text itself "
        "does not match it: use mode: same to compare exactly",
        "assert: no assertion 'equals', did you mean 'equal'? (the assertions are equal, "
        "contains, in, re, scheme)",
        "did you mean 'send_http'?",
        "scheme: at $.user.id: '1' is not of type 'integer' (rule type: 'integer')",
        # in the JSON text of the response check's errors
        r"""got '{\"status\": \"ok\"}' (in a glob pattern [ starts a set of characters and * """
        "and ? are wildcards: use mode: same to compare exactly)",
    ]:
        assert note in out


@pytest.mark.usefixtures("wide_terminal")
def test_an_empty_base_url_is_named_before_anything_is_sent(pytester):
    # As the generated pytest.ini leaves it: httpx said "Request URL is missing an 'http://'
    # or 'https://' protocol" and nothing of the setting.
    write_pytest_ini(pytester, "[pytest]\naddopts = -p no:cacheprovider\n[lumox_api]\nbase_url =\n")
    pytester.makefile(".yaml", test_relative="test_name: relative\nsteps:\n"
                                             "  - request: {method: GET, url: /api/health}\n")
    write_workbook(pytester.path / "test_relative.xlsx", {
        "relative": [HEADER, [1, "", "send_http", "POST", "/api/login"]]})
    result = pytester.runpytest_subprocess("-rf")
    result.assert_outcomes(failed=2)
    advice = ("the URL is relative and [[]lumox_api[]] base_url (environment variable "
              "LUMOX_API_BASE_URL) is empty; set it to the service's address such as "
              "http://127.0.0.1:8000")
    result.stdout.fnmatch_lines_random([
        f"*ValueError: request GET '/api/health': {advice}, or write the full http://... URL",
        f"*ValueError: request POST '/api/login': {advice} (or in the case with the set_baseurl "
        "keyword), or write the full http://... URL"])


def test_lumox_schema_prints_the_packaged_schema(tmp_path):
    # Works without a pytest.ini, and even with a broken one.
    (tmp_path / "pytest.ini").write_text("[lumox_ui]\nwait_max = soon\n", encoding="utf-8")
    result = subprocess.run([sys.executable, "-m", "lumox", "schema"], cwd=tmp_path,
                            capture_output=True, text=True, check=True)
    assert '"$id": "urn:lumox:case-file"' in result.stdout
