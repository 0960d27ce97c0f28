"""pytest plug-in: runs the steps of YAML cases, offers browser fixtures, saves the
run's variables and sends the run summary at the end. The work is done in lumox.steps,
lumox.webdriver and lumox.sender."""

import pytest

from lumox import sender as _sender

try:
    from lumox import steps as _steps
except ImportError as error:
    # A setting of the wrong kind (pytest.ini or the environment) is read here first:
    # pytest's usage error names it in one line, not as an import traceback.
    if str(error).startswith("SettingsError: "):
        raise pytest.UsageError(str(error).removeprefix("SettingsError: ")) from None
    raise
from lumox import runs as _runs
from lumox import webdriver as _webdriver
from lumox.webdriver import get_webdriver

logger = _steps.logger
http_logger = _steps.http_logger


def __getattr__(name):
    # HTTPClient, client and exchanger are lumox.steps' own, made when first used.
    if name in ("HTTPClient", "client", "exchanger"):
        return getattr(_steps, name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def pytest_yaml_run_step(item, request):
    return _steps.run_step(item, request)


@pytest.fixture(scope="session")
def chrome():
    """One browser session for the whole run."""
    driver = get_webdriver()
    yield driver
    driver.quit()


@pytest.fixture(scope="class")
def new_chrome():
    """A fresh browser session for each test class."""
    driver = get_webdriver()
    yield driver
    driver.quit()


def pytest_addoption(parser):
    _runs.add_options(parser)


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "run_once: run this case in one process of the run; the others wait for "
        "it and take the variables it saved")
    config.addinivalue_line(
        "markers", "shard_group(name): keep the cases of this group in one shard")
    _runs.check_share_folder(config)
    # Settings come from the file pytest itself uses, wherever it was found.
    _steps.follow_run_config(config)
    _steps.load_saved_variables()
    # debugger() lifts this run's output capture while its prompt is open.
    _webdriver.run_started(config)


@pytest.hookimpl(trylast=True)
def pytest_collection_modifyitems(config, items):
    _runs.arrange_items(config, items)


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item):
    _runs.before_case(item)


def pytest_runtest_logreport(report):
    _runs.record_duration(report)
    _runs.after_report(report)


def pytest_unconfigure(config):
    _runs.store_durations(config)
    _webdriver.run_ended(config)
    _steps.save_variables(config)
    _steps.leave_run_config(config)


def pytest_sessionfinish(session):
    # Before pytest-xdist reports a worker finished: its collection counts go along.
    _sender.share_collection(session)


@pytest.hookimpl(optionalhook=True)
def pytest_testnodedown(node, error):
    _sender.gather_collection(node)


def pytest_terminal_summary(terminalreporter, exitstatus, config):
    _sender.send_run_summary(terminalreporter)
