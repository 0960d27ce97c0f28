"""Browser sessions: the chrome/new_chrome fixtures and the WebDriver factory, on the
machine's headless Chromium against the demo service on loopback."""

import logging
import os
import pty
import sys
import tempfile
import threading
from types import SimpleNamespace

import pytest
from selenium.common.exceptions import WebDriverException
from urllib3.exceptions import MaxRetryError

from lumox import settings
from lumox.webdriver import get_webdriver

SUITE = """
import browser_record

def remember(test, chrome, new_chrome):
    browser_record.calls.append((test, chrome, new_chrome))


class TestFirstClass:
    def test_one(self, chrome, new_chrome):
        remember("first", chrome, new_chrome)
        browser_record.user_agent = chrome.execute_script("return navigator.userAgent")

    def test_two(self, chrome, new_chrome):
        remember("first", chrome, new_chrome)


class TestSecondClass:
    def test_one(self, chrome, new_chrome):
        remember("second", chrome, new_chrome)
        first_class_session = browser_record.calls[0][2]
        browser_record.first_class_service_ended = (
            first_class_session.service.process.poll() is not None)
"""


@pytest.fixture
def profiles(monkeypatch, tmp_path):
    """Directory where the sessions' temporary profiles are made."""
    path = tmp_path / "profiles"
    path.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(path))
    return path


def test_fixtures_give_one_session_per_run_and_one_per_class(pytester, monkeypatch, profiles,
                                                             caplog):
    caplog.set_level(logging.DEBUG, logger="selenium")
    monkeypatch.delenv("DISPLAY", raising=False)  # headless is then automatic
    record = SimpleNamespace(calls=[])
    monkeypatch.setitem(sys.modules, "browser_record", record)
    pytester.makepyfile(test_sessions=SUITE)

    pytester.runpytest("-p", "no:cacheprovider").assert_outcomes(passed=3)

    run_wide = {id(chrome) for _, chrome, _ in record.calls}
    first = {new_chrome.session_id for test, _, new_chrome in record.calls if test == "first"}
    second = {new_chrome.session_id for test, _, new_chrome in record.calls if test == "second"}
    assert len(run_wide) == 1
    assert len(first) == len(second) == 1
    assert first != second
    assert record.calls[0][1].session_id not in first | second
    assert "HeadlessChrome" in record.user_agent
    # Each class's session was quit when its class ended, the run's one at run end.
    assert record.first_class_service_ended
    sessions = {id(d): d for _, chrome, new in record.calls for d in (chrome, new)}.values()
    for session in sessions:
        assert session.service.process.poll() is not None
        with pytest.raises(MaxRetryError):
            _ = session.title
    # Profiles are deleted by a thread of their own, so that quitting does not wait.
    for thread in threading.enumerate():
        if thread.name == "lumox-profile-removal":
            thread.join(timeout=30)
    assert list(profiles.iterdir()) == []
    # The drivers on disk were used; selenium's driver manager (which downloads) never ran.
    assert caplog.text.count("Skipping Selenium Manager") == 3
    assert not [r for r in caplog.records if r.name.endswith("selenium_manager")]


DEBUGGED = """
    from selenium.webdriver.common.by import By
    from lumox.webdriver import get_webdriver

    def test_login_form():
        driver = get_webdriver("chromium")
        try:
            driver.get("{page}")
            driver.find_element(By.ID, "username").send_keys("小明")
            driver.find_element(By.ID, "submit").click()
            driver.debugger()
            assert driver.find_element(By.ID, "result").text == "hello 小明"
        finally:
            driver.quit()
"""


def test_debugger_prompt_on_a_terminal_and_none_without_one(pytester, http_service):
    pytester.makepyfile(test_page=DEBUGGED.format(page=f"{http_service}/page"))
    # What a tester types at the prompt, on a terminal (pytest's capture on, as usual).
    terminal, tester_side = pty.openpty()
    try:
        os.write(tester_side, b"print('seen:', driver.title, find('result ;; ID').text)\n"
                              b"exit()\n")
        on_terminal = pytester.run(sys.executable, "-m", "pytest", "-p", "no:cacheprovider",
                                   stdin=terminal, timeout=120)
    finally:
        os.close(terminal)
        os.close(tester_side)
    on_terminal.assert_outcomes(passed=1)
    on_terminal.stderr.fnmatch_lines(["lumox debugger: the browser stays open*"])
    on_terminal.stdout.fnmatch_lines(["*>>> seen: lumox demo hello 小明"])
    # Without a terminal (CI): a warning, and the test goes on at once.
    in_ci = pytester.run(sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "-o",
                         "log_cli=true", "--log-cli-level=WARNING", timeout=120)
    in_ci.assert_outcomes(passed=1)
    in_ci.stdout.fnmatch_lines(["*WARNING*debugger(): standard input is not a terminal*"])
    assert "lumox debugger: the browser stays open" not in in_ci.stderr.str()


class TestFactorySettings:
    def test_remote_session_through_a_grid_address(self, monkeypatch, http_service,
                                                   webdriver_hub):
        monkeypatch.setattr(settings.lumox_ui, "selenium_grid", webdriver_hub)
        monkeypatch.setattr(settings.lumox_ui, "headless", True)
        monkeypatch.setattr(settings.lumox_ui, "browser_path", "/usr/bin/chromium")
        driver = get_webdriver()
        try:
            assert type(driver).__name__ == "Remote"
            assert callable(driver.debugger)
            driver.get(f"{http_service}/page")
            assert driver.title == "lumox demo"
        finally:
            driver.quit()

    def test_programs_that_cannot_run_are_reported(self, monkeypatch, tmp_path):
        not_executable = tmp_path / "chromedriver"
        not_executable.write_text("")
        monkeypatch.setattr(settings.lumox_ui, "driver_path", str(not_executable))
        with pytest.raises(RuntimeError, match="lumox_ui.driver_path is not an executable file: "):
            get_webdriver()

        monkeypatch.setattr(settings.lumox_ui, "driver_path", "")
        monkeypatch.setattr(settings.lumox_ui, "browser_path", str(tmp_path / "no-browser"))
        with pytest.raises(RuntimeError, match="lumox_ui.browser_path is not an executable file"):
            get_webdriver(settings.DriverEnum.chromium)

        with pytest.raises(ValueError, match="unknown browser kind 'safari'"):
            get_webdriver("safari")

    def test_driver_failing_to_start_leaves_no_profile_behind(self, monkeypatch, profiles):
        monkeypatch.setattr(settings.lumox_ui, "driver_path", "/bin/false")
        with pytest.raises(WebDriverException, match="unexpectedly exited"):
            get_webdriver("chrome")
        assert list(profiles.iterdir()) == []
