"""pytest plug-in: runs the steps of YAML cases, offers browser fixtures and saves the
run's variables at the end. The work is done in lumox.steps and lumox.webdriver."""

import pytest

from lumox import steps as _steps
from lumox import webdriver as _webdriver
from lumox.webdriver import get_webdriver

logger = _steps.logger
http_logger = _steps.http_logger
HTTPClient = _steps.HTTPClient
exchanger = _steps.exchanger
client = _steps.client


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


def pytest_configure(config):
    # debugger() lifts this run's output capture while its prompt is open.
    _webdriver.run_started(config)


def pytest_unconfigure(config):
    _webdriver.run_ended(config)
    _steps.save_variables()
