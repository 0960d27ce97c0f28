"""The JSON Schema of YAML case files that editors check cases with (`lumox schema`)."""

import re
from pathlib import Path

import jsonschema
import pytest
import yaml

from lumox import yaml_cases

ROOT = Path(__file__).parent.parent

SCHEMA = yaml_cases.case_schema()
VALIDATOR = jsonschema.Draft7Validator(SCHEMA)

BASE = """\
test_name: create an order
marks:
  - xfail: {reason: bug 12, strict: true}
steps:
  - request:
      method: POST
      url: /api/orders
      headers: {Authorization: "Bearer {{ token }}"}
    response:
      status_code: 201
      json: {$.name: {value: apple, mode: same}}
    extract:
      order_id: [json, "$.id"]
    validate:
      order_id: "[0-9]+"
"""

# Every key the schema knows, and templates standing for numbers, lists and whole sections.
EVERY_KEY = """\
test_name: every key
marks:
  - smoke
  - skip: not ready
  - skipif: {condition: "sys.platform == 'win32'", reason: not on Windows}
  - xfail: {condition: true, reason: bug 12, run: true}
  - usefixtures: [chrome]
  - filterwarnings: ignore::DeprecationWarning
steps:
  - mock: {note: only logged}
  - request:
      method: post
      url: "/api/orders/{{ order_id }}"
      params: {page: 2, tag: [a, b], empty: null}
      headers: {Authorization: "Bearer {{ token }}"}
      cookies: {session: abc}
      json: [1, {a: null}]
      data: {title: 周报}
      content: raw text
      files: {attachment: data/report.txt}
      timeout: "{{ slow }}"
      follow_redirects: true
      auth: "{{ ('alice', 'secret') }}"
      extensions: {timeout: {connect: 5}}
    response:
      status_code: [200, "20? | 3*"]
      headers: {Content-Type: application/json*}
      text: {value: '"code":0', mode: contains, msg: 不对}
      json: {$.code: 0, $..price: "1?.*"}
    extract:
      last: [text, "order=(\\\\d+)", -1]
      greeting: [str, hello]
      picked: [json, "$[*].id", "{{ which }}"]
    validate:
      status: {value: "^2\\\\d\\\\d$", mode: re}
  - request: "{{ saved_request }}"
    response: {status_code: "{{ expected_code }}"}
---
"""


def readme_cases():
    """The YAML cases of README.md and of the documentation pages under docs/."""
    pages = [ROOT / "README.md", *sorted((ROOT / "docs").glob("**/*.md"))]
    blocks = [block for page in pages
              for block in re.findall(r"```yaml\n(.*?)```", page.read_text(encoding="utf-8"),
                                      re.DOTALL)]
    return [block for block in blocks if "test_name:" in block]


def documents(text):
    return list(yaml.safe_load_all(text))


def test_is_a_draft_07_schema():
    assert SCHEMA["$schema"] == "http://json-schema.org/draft-07/schema#"
    jsonschema.Draft7Validator.check_schema(SCHEMA)


@pytest.mark.parametrize(
    "text",
    [BASE, EVERY_KEY, *readme_cases(),
     *(path.read_text(encoding="utf-8") for path in sorted(ROOT.glob("examples/test_*.yaml")))],
)
def test_valid_cases_pass(text):
    for document in documents(text):
        assert [error.message for error in VALIDATOR.iter_errors(document)] == []


@pytest.mark.parametrize("right, wrong", [
    ("response:", "reponse:"),
    ("request:", "requets:"),
    ("extract:", "extarct:"),
    ("validate:", "valdiate:"),
    ("marks:", "mark:"),
    ("test_name:", "test_nmae:"),
    ("headers:", "header:"),
    ("method: POST", "method: PSOT"),
    ("mode: same", "mod: same"),
    ("[json,", "[jsno,"),
    ("status_code: 201", "status_code: 2O1"),
    ("strict: true", "strict: ture"),
    ("- xfail: {reason: bug 12, strict: true}", "- parametrize: [n, [1, 2]]"),
])
def test_typos_are_flagged(right, wrong):
    assert BASE.count(right) == 1
    (document,) = documents(BASE.replace(right, wrong))
    assert not VALIDATOR.is_valid(document)
