"""WebDriver factory: local browsers through the drivers installed on the machine, or a
WebDriver hub such as Selenium Grid (native module)."""

import logging
from collections.abc import Mapping
from typing import Any

import pytest
from appium.webdriver import Remote as _AppiumRemote
from selenium.webdriver import Chrome as _Chrome
from selenium.webdriver import Edge as _Edge
from selenium.webdriver import Firefox as _Firefox
from selenium.webdriver import Remote as _Remote
from selenium.webdriver.remote.webdriver import WebDriver

from lumox.settings import DriverEnum, NotSetEnum

logger: logging.Logger

class _Session(WebDriver):
    def debugger(self) -> None:
        """An interactive prompt with this session as `driver` (on a terminal); a warning
        and an immediate return without one."""
    def quit(self) -> None:
        """Ends the session, stops the driver, removes the temporary profile directory."""

# Created on the first session of each kind (absent from the module until then).
class Chrome(_Session, _Chrome): ...
class Edge(_Session, _Edge): ...
class Firefox(_Session, _Firefox): ...
class Remote(_Session, _Remote): ...
class AppSession(_Session, _AppiumRemote): ...

def get_webdriver(
    browser: str | DriverEnum | None = None,
    hub: str | NotSetEnum | None = None,
    capabilities: Mapping[str, Any] | None = None,
) -> Chrome | Edge | Firefox | Remote | AppSession:
    """A new session of `browser` (default settings.lumox_ui.driver_type): chrome, chromium,
    firefox or edge; on the hub `hub` (None: settings.lumox_ui.selenium_grid; empty: this
    machine), with `capabilities` merged in. android and ios open an app session
    (AppSession) on the Appium server `hub`, `capabilities` being the session's (bare names
    get the appium: prefix). RuntimeError when the driver or browser is not installed or
    the hub does not answer."""

def debugger(driver: WebDriver) -> None:
    """The prompt of Session.debugger() for any WebDriver session."""

def run_started(config: pytest.Config) -> None: ...
def run_ended(config: pytest.Config) -> None: ...
