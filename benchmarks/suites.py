"""Writes the benchmark suites: the same work for lumox and for each peer.

Every pytest folder gets its own pytest.ini, which also stops pytest from reading the
repository's configuration above it.
"""

from __future__ import annotations

import shutil
from pathlib import Path

import openpyxl

HEADER = ["编号", "描述", "关键字", "参数1", "参数2", "参数3"]

# /api/items of the demo service answers
# [{"id": 1, "name": "苹果", "price": 5.5}, {"id": 2, "name": "banana", "price": 3}].
YAML_CASE = """\
test_name: items {n}
steps:
  - request: {{method: GET, url: /api/items}}
    response:
      status_code: 200
    extract:
      first_id: [json, "$[0].id"]
      second_name: [json, "$[1].name"]
    validate:
      second_name: banana
"""

HTTPX_MODULE = """\
import httpx
import pytest


@pytest.fixture(scope="session")
def client():
    with httpx.Client(base_url="{base}") as client:
        yield client


@pytest.mark.parametrize("n", range({count}))
def test_items(client, n):
    response = client.get("/api/items")
    assert response.status_code == 200
    body = response.json()
    first_id = body[0]["id"]
    second_name = body[1]["name"]
    assert second_name == "banana"
"""

# strict json:off lets the body check name one value, like lumox's validate.
TAVERN_CASE = """\
---
test_name: items {n}
strict:
  - json:off
stages:
  - name: get items
    request:
      url: {base}/api/items
      method: GET
    response:
      status_code: 200
      json: [!anything , {{name: banana}}]
      save:
        json:
          first_id: "[0].id"
          second_name: "[1].name"
"""

ROBOT_ASSERTS = """\
*** Test Cases ***
Asserts
{lines}
"""

ROBOT_API = """\
*** Settings ***
Library    RequestsLibrary

*** Test Cases ***
Health
    Create Session    svc    {base}
{lines}
"""


def _folder(root: Path, name: str, base: str | None = None) -> Path:
    folder = root / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    ini = "[pytest]\naddopts = -p no:cacheprovider\n"
    if base:
        ini += f"\n[lumox_api]\nbase_url = {base}\n"
    (folder / "pytest.ini").write_text(ini, encoding="utf-8")
    return folder


def empty(root: Path) -> Path:
    return _folder(root, "empty")


def yaml_cases(root: Path, count: int, base: str) -> Path:
    folder = _folder(root, f"yaml-{count}", base)
    text = "---\n".join(YAML_CASE.format(n=n) for n in range(count))
    (folder / "test_items.yaml").write_text(text, encoding="utf-8")
    return folder


def httpx_tests(root: Path, count: int, base: str) -> Path:
    folder = _folder(root, f"httpx-{count}")
    (folder / "test_items.py").write_text(HTTPX_MODULE.format(base=base, count=count),
                                          encoding="utf-8")
    return folder


def tavern_tests(root: Path, count: int, base: str) -> Path:
    folder = _folder(root, f"tavern-{count}")
    text = "".join(TAVERN_CASE.format(n=n, base=base) for n in range(count))
    (folder / "test_items.tavern.yaml").write_text(text, encoding="utf-8")
    return folder


def _workbook(path: Path, rows: list[list]) -> None:
    workbook = openpyxl.Workbook()
    sheet = workbook.active
    sheet.title = "case"
    sheet.append(HEADER)
    for row in rows:
        sheet.append(row)
    workbook.save(path)


def assert_workbook(root: Path, rows: int, base: str) -> Path:
    folder = _folder(root, f"wb-assert-{rows}", base)
    _workbook(folder / "test_asserts.xlsx",
              [[n + 1, None, "assert", 1, "equal", 1] for n in range(rows)])
    return folder


def case_workbook(root: Path, cases: int, base: str) -> Path:
    """`cases` sheets of one `assert` row each: what a case costs around its rows."""
    folder = _folder(root, f"wb-cases-{cases}", base)
    workbook = openpyxl.Workbook()
    workbook.remove(workbook.active)
    for n in range(cases):
        sheet = workbook.create_sheet(f"case {n}")
        sheet.append(HEADER)
        sheet.append([1, None, "assert", 1, "equal", 1])
    workbook.save(folder / "test_cases.xlsx")
    return folder


def robot_cases(root: Path, cases: int) -> Path:
    folder = _folder(root, f"robot-cases-{cases}")
    text = "*** Test Cases ***\n" + "".join(
        f"Case {n}\n    Should Be Equal    1    1\n" for n in range(cases))
    (folder / "cases.robot").write_text(text, encoding="utf-8")
    return folder


def api_workbook(root: Path, requests: int, base: str) -> Path:
    folder = _folder(root, f"wb-api-{requests}", base)
    rows = []
    for n in range(requests):
        rows.append([2 * n + 1, None, "send_http", "GET", "/api/health"])
        rows.append([2 * n + 2, None, "assert", 200, "equal", "{resp_code}"])
    _workbook(folder / "test_api.xlsx", rows)
    return folder


def robot_asserts(root: Path, rows: int) -> Path:
    folder = _folder(root, f"robot-assert-{rows}")
    lines = "\n".join(["    Should Be Equal    1    1"] * rows)
    (folder / "asserts.robot").write_text(ROBOT_ASSERTS.format(lines=lines), encoding="utf-8")
    return folder


def robot_api(root: Path, requests: int, base: str) -> Path:
    folder = _folder(root, f"robot-api-{requests}")
    pair = ("    ${resp}=    GET On Session    svc    /api/health\n"
            "    Status Should Be    200    ${resp}")
    lines = "\n".join([pair] * requests)
    (folder / "api.robot").write_text(ROBOT_API.format(base=base, lines=lines), encoding="utf-8")
    return folder


# The demo's login page (examples/service.py): type two fields, submit, read the greeting
# the page writes once the login call answers. Both tools drive Chromium through the same
# WebDriver address (a counting proxy in front of chromedriver).
ROBOT_WEB = """\
*** Settings ***
Library    SeleniumLibrary

*** Test Cases ***
Login
    Open Browser    {page}    headlesschrome    remote_url={hub}
    ...    options=add_argument("--no-sandbox");binary_location="{browser}"
{steps}
    [Teardown]    Close Browser
"""

ROBOT_WEB_STEPS = """\
    Input Text    id:username    alice
    Input Text    id:password    secret
    Click Button    id:login
    Wait Until Element Contains    id:message    欢迎
    ${text}=    Get Text    id:message
    Should Be Equal    ${text}    欢迎，alice"""


def _browser_workbook(root: Path, flow: str, base: str, hub: str, browser: str,
                      steps: list) -> Path:
    """A workbook case of `steps` in headless Chromium, its session opened through `hub`."""
    folder = _folder(root, f"wb-{flow}", base)
    with open(folder / "pytest.ini", "a", encoding="utf-8") as ini:
        ini.write(f"\n[lumox_ui]\nheadless = true\nbrowser_path = {browser}\n")
    _workbook(folder / f"test_{flow.split('-')[0]}.xlsx",
              [[1, None, "new_driver", "chromium", hub]] +
              [[n, None, *step] for n, step in enumerate(steps, start=2)])
    return folder


def _robot_browser(root: Path, flow: str, page: str, hub: str, browser: str, steps: str,
                   repeat: int) -> Path:
    """The Robot Framework side: Open Browser loads `page` the first time, Go To before every
    later round of `steps`."""
    folder = _folder(root, f"robot-{flow}-{repeat}")
    rounds = f"\n    Go To    {page}\n".join([steps] * repeat)
    (folder / f"{flow}.robot").write_text(
        ROBOT_WEB.format(page=page, hub=hub, browser=browser, steps=rounds), encoding="utf-8")
    return folder


def web_workbook(root: Path, base: str, hub: str, browser: str, repeat: int = 1) -> Path:
    """The browser flow; with `repeat` its steps from the page load on `repeat` times."""
    steps = [
        ["goto", f"{base}/web/login"],
        ["input", "username ;; ID", "alice"],
        ["input", "password ;; ID", "secret"],
        ["click", "login ;; ID"],
        ["save_text", "message ;; ID", "welcome", False],
        ["assert", "欢迎，alice", "equal", "{welcome}"],
    ] * repeat
    return _browser_workbook(root, f"web-{repeat}", base, hub, browser, steps)


def robot_web(root: Path, base: str, hub: str, browser: str, repeat: int = 1) -> Path:
    return _robot_browser(root, "web", f"{base}/web/login", hub, browser, ROBOT_WEB_STEPS,
                          repeat)


# A settings form in the browser: a list, a checkbox, keys into a field (select all, type,
# Enter submits), then a wait and a check on what the page shows.
ROBOT_FORM_STEPS = """\
    Select From List By Label    id:plan    Pro
    Select Checkbox    id:news
    Press Keys    id:nickname    CTRL+a    bob    ENTER
    Wait Until Element Contains    id:summary    nickname=bob
    Element Should Contain    id:summary    plan=Pro, news=yes"""


def form_workbook(root: Path, base: str, hub: str, browser: str, repeat: int = 1) -> Path:
    """The form flow; with `repeat` its steps from the page load on `repeat` times."""
    steps = [
        ["goto", f"{base}/web/settings"],
        ["select_option", "plan ;; ID", "Pro"],
        ["check", "news ;; ID"],
        ["press_keys", "nickname ;; ID", 'Ctrl+A "bob" Enter'],
        ["wait_text", "summary ;; ID", "nickname=bob"],
        ["should_contain", "summary ;; ID", "plan=Pro, news=yes"],
    ] * repeat
    return _browser_workbook(root, f"form-{repeat}", base, hub, browser, steps)


def robot_form(root: Path, base: str, hub: str, browser: str, repeat: int = 1) -> Path:
    return _robot_browser(root, "form", f"{base}/web/settings", hub, browser, ROBOT_FORM_STEPS,
                          repeat)


# An app on Appium's fake driver (tests/appium_server.py starts it, with the app description
# written there): type into two fields, tap the button, read a field back. Inputs do not
# clear first on either side (AppiumLibrary's Input Text does not), so both do the same work.
ROBOT_APP = """\
*** Settings ***
Library    AppiumLibrary

*** Test Cases ***
Login
    Open Application    {hub}    platformName=Fake    appium:automationName=Fake
    ...    appium:app={app}
{steps}
    [Teardown]    Close Application
"""

ROBOT_APP_STEPS = """\
    Input Text    id=user    alice
    Input Text    id=password    secret
    Click Element    id=login
    ${text}=    Get Text    id=user
    Should Be Equal    ${text}    alice"""


def app_workbook(root: Path, hub: str, app: str, repeat: int = 1) -> Path:
    """The app flow; with `repeat` its steps (all but the session start) `repeat` times."""
    folder = _folder(root, f"wb-app-{repeat}")
    caps = f'{{"platformName": "Fake", "automationName": "Fake", "app": "{app}"}}'
    steps = [
        ["input", "user ;; ID", "alice", False],
        ["input", "password ;; ID", "secret", False],
        ["click", "login ;; ID"],
        ["save_text", "user ;; ID", "typed", False],
        ["assert", "alice", "equal", "{typed}"],
    ] * repeat
    _workbook(folder / "test_app.xlsx", [[1, None, "new_driver", "android", hub, caps]] +
              [[n, None, *step] for n, step in enumerate(steps, start=2)])
    return folder


def robot_app(root: Path, hub: str, app: str, repeat: int = 1) -> Path:
    folder = _folder(root, f"robot-app-{repeat}")
    steps = "\n".join([ROBOT_APP_STEPS] * repeat)
    (folder / "app.robot").write_text(ROBOT_APP.format(hub=hub, app=app, steps=steps),
                                      encoding="utf-8")
    return folder
