"""WebDriver factory: local browsers through the drivers installed on the machine, or a
Selenium Grid hub (native module)."""

from typing import Union

from selenium.webdriver import Chrome as _Chrome
from selenium.webdriver import Edge as _Edge
from selenium.webdriver import Firefox as _Firefox
from selenium.webdriver import Remote as _Remote
from selenium.webdriver.remote.webdriver import WebDriver

from lumox.settings import DriverEnum

class _Session(WebDriver):
    def debugger(self) -> None:
        """Stops in pdb at the calling line (pytest's capture lifted); 'c' continues."""
    def quit(self) -> None:
        """Ends the session, stops the driver, removes the temporary profile directory."""

# Created on the first session of each kind.
class Chrome(_Session, _Chrome): ...
class Edge(_Session, _Edge): ...
class Firefox(_Session, _Firefox): ...
class Remote(_Session, _Remote): ...

def get_webdriver(
    browser: Union[str, DriverEnum, None] = None,
) -> Union[Chrome, Edge, Firefox, Remote]:
    """A new session of `browser` (default settings.lumox_ui.driver_type): chrome, chromium,
    firefox or edge. Raises RuntimeError when the driver or browser is not installed."""
