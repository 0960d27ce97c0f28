"""lumox.settings: values from pytest.ini in the working directory and the environment."""

import logging
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

from lumox import settings
from lumox.settings import DriverEnum, HttpUrl, NotSetEnum, SettingsError

GROUPS = (settings.lumox, settings.lumox_api, settings.lumox_ui)
SECRETS = {"qywx_url", "dingding_url", "dingding_secret", "email_password"}

DEFAULTS = {
    "lumox": {
        "vars_file": "", "vars_save": True, "allure_path": "allure",
        "allure_report": "./report", "allure_show": False, "allure_url": "",
        "allure_local_port": 9797, "qywx_url": "", "dingding_url": "", "dingding_secret": "",
        "email_server": "", "email_port": 465, "email_account": "", "email_password": "",
        "email_to": "", "email_encryption": "ssl", "email_subject": "测试框架有报告啦~",
        "email_ca_file": "",
        "keyword_type": "all", "strict_steps": False,
    },
    "lumox_api": {"base_url": ""},
    "lumox_ui": {
        "driver_type": DriverEnum.chrome, "selenium_grid": NotSetEnum.NOT_SET,
        "grid_wait": 300.0, "max_sessions": 0, "force_click": False, "wait_max": 10.0,
        "wait_poll": 0.5,
        "touch_css": "border: 2px solid red;", "headless": None, "browser_path": "",
        "driver_path": "",
    },
}


def reload_all():
    for group in GROUPS:
        group.reload_settings()


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """An empty working directory and an environment without LUMOX_* variables; the groups
    are read again from the real surroundings afterwards."""
    monkeypatch.chdir(tmp_path)
    for name in list(os.environ):
        if name.startswith("LUMOX_"):
            monkeypatch.delenv(name)
    yield tmp_path
    monkeypatch.undo()
    reload_all()


def write_ini(directory, text):
    (directory / "pytest.ini").write_text(textwrap.dedent(text), encoding="utf-8")


def test_every_key_has_its_documented_default(workdir):
    reload_all()
    for group in GROUPS:
        expected = DEFAULTS[group._group]
        # Secrets are kept out of the instance's own attributes (vars, debuggers).
        shown = {k: v for k, v in vars(group).items() if k != "_hidden_values"}
        assert shown == {k: v for k, v in expected.items() if k not in SECRETS}
        for key, value in expected.items():
            assert type(getattr(group, key)) is type(value), key


def test_values_are_read_from_pytest_ini_with_their_types(workdir):
    write_ini(workdir, """\
        [pytest]
        addopts = -v
        [lumox]
        vars_file = vars.yaml
        VARS_SAVE = off
        allure_local_port: 8088
        email_to = 张三@example.test
        email_encryption = SSL
        [lumox_api]
        base_url = http://127.0.0.1:8000/api
        [lumox_ui]
        # comments and continuation lines as in any pytest.ini
        driver_type = Firefox
        selenium_grid = http://127.0.0.1:4444/wd/hub
        wait_max = 3
        wait_poll = .25
        headless = yes
        touch_css = outline: 1px dashed blue;
            background: yellow;
        """)
    reload_all()
    assert settings.lumox.vars_file == "vars.yaml"
    assert settings.lumox.vars_save is False
    assert settings.lumox.allure_local_port == 8088
    assert settings.lumox.email_to == "张三@example.test"
    assert settings.lumox.email_encryption == "ssl"  # not plain SMTP, as it was
    assert settings.lumox_api.base_url == "http://127.0.0.1:8000/api"
    ui = settings.lumox_ui
    assert ui.driver_type is DriverEnum.firefox
    assert isinstance(ui.selenium_grid, HttpUrl) and ui.selenium_grid == "http://127.0.0.1:4444/wd/hub"
    assert (ui.wait_max, ui.wait_poll) == (3.0, 0.25) and type(ui.wait_max) is float
    assert ui.headless is True
    assert ui.touch_css == "outline: 1px dashed blue;\nbackground: yellow;"
    # Keys not in the file keep their defaults.
    assert ui.force_click is False and settings.lumox.email_port == 465


def test_environment_wins_over_the_file(workdir, monkeypatch):
    write_ini(workdir, """\
        [lumox]
        vars_file = from_file.yaml
        [lumox_ui]
        wait_max = 3
        headless = true
        selenium_grid = http://127.0.0.1:4444
        """)
    monkeypatch.setenv("LUMOX_VARS_FILE", "from_env.yaml")
    monkeypatch.setenv("LUMOX_API_BASE_URL", "https://127.0.0.1:9443")
    monkeypatch.setenv("LUMOX_UI_WAIT_MAX", "7.5")
    # An empty variable is a value too: automatic mode, hub not set.
    monkeypatch.setenv("LUMOX_UI_HEADLESS", "")
    monkeypatch.setenv("LUMOX_UI_SELENIUM_GRID", "")
    reload_all()
    assert settings.lumox.vars_file == "from_env.yaml"
    assert settings.lumox_api.base_url == "https://127.0.0.1:9443"
    assert settings.lumox_ui.wait_max == 7.5
    assert settings.lumox_ui.headless is None
    assert settings.lumox_ui.selenium_grid is NotSetEnum.NOT_SET


@pytest.mark.parametrize(
    ("group", "ini", "env", "message"),
    [
        ("lumox_ui", "[lumox_ui]\nwait_max = soon\n", {},
         "pytest.ini [lumox_ui] wait_max = 'soon': expected a number of seconds"),
        ("lumox_ui", "[lumox_ui]\nwait_poll = -1\n", {},
         "pytest.ini [lumox_ui] wait_poll = '-1': expected a number of seconds (zero or more)"),
        ("lumox_ui", "[lumox_ui]\ndriver_type = safari\n", {},
         "pytest.ini [lumox_ui] driver_type = 'safari': "
         "expected one of chrome, chromium, firefox, edge, android, ios"),
        ("lumox", "[lumox]\nallure_local_port = 70000\n", {},
         "pytest.ini [lumox] allure_local_port = '70000': expected a port number from 1 to 65535"),
        ("lumox_api", "[lumox_api]\nbase_url = 127.0.0.1:8000\n", {},
         "pytest.ini [lumox_api] base_url = '127.0.0.1:8000': "
         "expected an http:// or https:// address with a host, or empty"),
        ("lumox_ui", "", {"LUMOX_UI_FORCE_CLICK": "maybe"},
         "environment variable LUMOX_UI_FORCE_CLICK = 'maybe': "
         "expected a truth value (true/false, yes/no, on/off, 1/0)"),
        ("lumox", "[lumox]\nkeyword_type = my_keywords\n", {},
         "pytest.ini [lumox] keyword_type = 'my_keywords': "
         "expected all, api, web, app or module:ClassName"),
        ("lumox", "[lumox_ui]\nx = 1\n= 2\n", {},
         "pytest.ini line 3: a value without a key: '= …' (the rest of the line is left out, "
         "it may hold a secret)"),
        # Any word but ssl and tls meant plain SMTP: SSL sent the password in the clear.
        ("lumox", "[lumox]\nemail_encryption = SLL\n", {},
         "pytest.ini [lumox] email_encryption = 'SLL': expected ssl (SMTP over TLS), tls "
         "(STARTTLS) or plain (also none, no, off, false) for SMTP without encryption"),
        # The = forgotten: the password was printed in the error.
        ("lumox", "[lumox]\nemail_password hunter2\n", {},
         "pytest.ini line 2: expected 'key = value', 'key: value', a [section] header or a "
         "comment, got 'email_password …' (the rest of the line is left out, it may hold a "
         "secret)"),
    ],
)
def test_wrong_values_name_where_they_came_from(workdir, monkeypatch, group, ini, env, message):
    write_ini(workdir, ini)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    group = getattr(settings, group)
    before = dict(vars(group))
    with pytest.raises(SettingsError) as raised:
        group.reload_settings()
    assert str(raised.value) == message
    assert isinstance(raised.value, ValueError)
    # A failed reload changes nothing.
    assert vars(group) == before


def test_unknown_keys_and_lookalike_sections_are_ignored_with_a_warning(workdir, caplog):
    write_ini(workdir, "[lumox_ui]\nwait_max = 2\nwait_maxx = 3\n"
                       "[LUMOX_UI]\nwait_max = x\n[[lumox_ui]]\nwait_max = 4\n[lumox_uix]\n")
    with caplog.at_level(logging.WARNING, logger="lumox.settings"):
        settings.lumox_ui.reload_settings()
    assert settings.lumox_ui.wait_max == 2.0
    assert not hasattr(settings.lumox_ui, "wait_maxx")
    assert [r.getMessage() for r in caplog.records] == [
        "pytest.ini section [LUMOX_UI] is not read: its settings belong under [lumox_ui] "
        "(section names are case-sensitive)",
        "pytest.ini section [[lumox_ui]] is not read: its settings belong under [lumox_ui] "
        "(section names are case-sensitive)",
        "pytest.ini [lumox_ui] unknown key 'wait_maxx' (line 3) is ignored"]
    # Keys are indexed as the file is read: 200,000 of them (which took minutes when each
    # was compared with all before it) are read within the test's time limit.
    keys = "".join(f"k{i} = {i}\n" for i in range(200_000))
    write_ini(workdir, "[lumox]\n" + keys + "k7 = last\n[lumox_api]\nbase_url = http://h\n")
    with caplog.at_level(logging.ERROR, logger="lumox.settings"):
        settings.lumox_api.reload_settings()
    assert settings.lumox_api.base_url == "http://h"


def test_groups_can_be_overridden_and_hide_secrets_in_repr(workdir, monkeypatch):
    monkeypatch.setenv("LUMOX_EMAIL_PASSWORD", "hunter2")
    settings.lumox.reload_settings()
    settings.lumox.allure_show = True
    text = repr(settings.lumox)
    assert text.startswith("lumox(vars_file='', vars_save=True,")
    assert "allure_show=True" in text
    assert "email_password='***'" in text and "hunter2" not in text
    assert "hunter2" not in str(vars(settings.lumox))
    assert settings.lumox.email_password == "hunter2"
    # reload_settings() drops the override again.
    settings.lumox.reload_settings()
    assert settings.lumox.allure_show is False


def test_http_url_checks_its_text():
    url = HttpUrl("https://user@127.0.0.1:8443/path?q=1")
    assert isinstance(url, str) and url == "https://user@127.0.0.1:8443/path?q=1"
    assert repr(url) == "HttpUrl('https://user@127.0.0.1:8443/path?q=1')"
    assert pickle.loads(pickle.dumps(url)) == url
    for text in ["", "127.0.0.1:80", "ftp://host", "http://", "http://host:99999", "http://a b"]:
        with pytest.raises(ValueError, match="invalid HttpUrl") as raised:
            HttpUrl(text)
        assert repr(text) in str(raised.value)
    with pytest.raises(TypeError, match="HttpUrl expects a text, got int"):
        HttpUrl(80)


def test_marker_and_driver_kinds():
    assert [kind.value for kind in DriverEnum] == [
        "chrome", "chromium", "firefox", "edge", "android", "ios"]
    assert DriverEnum("edge") == "edge" and f"{DriverEnum.chrome}" == "chrome"
    assert NotSetEnum.NOT_SET.value == "not set"
    assert not NotSetEnum.NOT_SET


def test_bad_value_stops_the_run_naming_key_and_value(pytester):
    # Read when the plug-in loads: the tester must see which key is wrong, neither a bare
    # "initialization failed" nor "Error while loading plugin" and an ImportError traceback.
    pytester.makefile(".ini", pytest="[pytest]\n\n[lumox_ui]\nwait_max = soon\n")
    pytester.makefile(".yaml", test_x="test_name: x\nsteps: []\n")
    result = pytester.runpytest_subprocess()
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    assert result.stderr.str().strip() == (
        "ERROR: pytest.ini [lumox_ui] wait_max = 'soon': expected a number of seconds")


def test_settings_come_from_the_file_pytest_uses(pytester, http_service, monkeypatch):
    case = ("test_name: relative\nsteps:\n  - request: {method: GET, url: /api/health}\n"
            "    response: {status_code: 200}\n")
    # pytest.ini in the parent directory, the run started in a sub-directory.
    (pytester.path / "pytest.ini").write_text(
        f"[pytest]\naddopts = -p no:cacheprovider\n[lumox_api]\nbase_url = {http_service}\n")
    sub = pytester.mkdir("sub")
    (sub / "test_health.yaml").write_text(case)
    # tox.ini with the same sections, in a project run from outside it.
    other = pytester.mkdir("other")
    (other / "tox.ini").write_text(
        f"[pytest]\naddopts = -p no:cacheprovider\n[lumox_api]\nbase_url = {http_service}\n")
    (other / "test_health.yaml").write_text(case)
    outside = pytester.mkdir("outside")

    monkeypatch.chdir(sub)
    pytester.run(sys.executable, "-m", "pytest").assert_outcomes(passed=1)
    monkeypatch.chdir(outside)
    pytester.run(sys.executable, "-m", "pytest", "-c", str(other / "tox.ini"),
                 str(other)).assert_outcomes(passed=1)


def test_runs_in_one_process_read_the_file_of_their_own_folder(pytester, monkeypatch):
    # pytest.main twice in one process, from one folder and then another: the second run
    # must not keep the first folder's settings because both files are named pytest.ini.
    for name in ("one", "two"):
        folder = pytester.mkdir(name)
        (folder / "pytest.ini").write_text(
            f"[pytest]\naddopts = -p no:cacheprovider\n[lumox_api]\nbase_url = http://{name}.test\n")
        (folder / "test_where.py").write_text(
            "from pathlib import Path\n\nfrom lumox import settings\n\n"
            "def test_where():\n"
            "    Path('seen.txt').write_text(str(settings.lumox_api.base_url))\n")
    try:
        for name in ("one", "two"):
            monkeypatch.chdir(pytester.path / name)
            pytester.inline_run().assertoutcome(passed=1)
            assert (pytester.path / name / "seen.txt").read_text().startswith(f"http://{name}.test")
    finally:
        monkeypatch.undo()
        reload_all()


def test_an_environment_variable_that_is_no_text_is_named():
    env = dict(os.environb, LUMOX_UI_TOUCH_CSS=b"\xff\xfe")
    result = subprocess.run([sys.executable, "-c", "import lumox.settings"], env=env,
                            capture_output=True, text=True)
    assert result.returncode == 1
    assert result.stderr.splitlines()[-1] == (
        "ImportError: SettingsError: environment variable LUMOX_UI_TOUCH_CSS = "
        "'\\udcff\\udcfe': not UTF-8 text")
