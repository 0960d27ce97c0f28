"""Settings of lumox from pytest.ini and the environment (native module)."""

import enum
import os
from typing import Any, Literal

class SettingsError(ValueError):
    """A setting has a value of the wrong kind; the message names its source."""

class HttpUrl(str):
    """An http:// or https:// address with a host, checked when made."""

    def __new__(cls, value: str) -> HttpUrl: ...

class DriverEnum(enum.StrEnum):
    """Browser kinds the WebDriver factory can start, and the mobile platforms."""

    chrome = "chrome"
    chromium = "chromium"
    firefox = "firefox"
    edge = "edge"
    android = "android"
    ios = "ios"

class NotSetEnum(enum.Enum):
    """The marker of an unset value; false in a truth test."""

    NOT_SET = "not set"
    def __bool__(self) -> Literal[False]: ...

class HiddenValues(dict[str, Any]):
    """The secret settings of a group (a dict whose repr shows none of them)."""

class SettingsGroup:
    _group: str
    def __init__(self) -> None: ...
    def reload_settings(self) -> None: ...

class LumoxSettings(SettingsGroup):
    vars_file: str
    vars_save: bool
    allure_path: str
    allure_report: str
    allure_show: bool
    allure_url: str
    allure_local_port: int
    qywx_url: str
    dingding_url: str
    dingding_secret: str
    email_server: str
    email_port: int
    email_account: str
    email_password: str
    email_to: str
    email_encryption: str
    email_subject: str
    email_ca_file: str
    keyword_type: str  # "all", "api", "web", "app" or "module:ClassName"
    strict_steps: bool

class LumoxApiSettings(SettingsGroup):
    base_url: str

class LumoxUiSettings(SettingsGroup):
    driver_type: DriverEnum
    selenium_grid: HttpUrl | NotSetEnum
    force_click: bool
    wait_max: float
    grid_wait: float
    max_sessions: int
    wait_poll: float
    touch_css: str
    headless: bool | None
    browser_path: str
    driver_path: str

lumox: LumoxSettings
lumox_api: LumoxApiSettings
lumox_ui: LumoxUiSettings

def use_config_file(path: str | os.PathLike[str] | None) -> None:
    """Reads every group from the INI file `path` from now on (None: pytest.ini of the
    working directory) and reloads the groups when it changes. The plug-in calls it with
    the configuration file pytest uses (pytest.ini, tox.ini or setup.cfg)."""

def config_file() -> str:
    """The file the settings are read from."""

def config_file_read() -> str:
    """The absolute path of the file the settings were last read from ('' before the first
    reading)."""

def pytest_ini_template() -> str:
    """The pytest.ini a new project starts from: pytest's options for lumox and every setting
    with its default and meaning (packaged as file/pytest.ini.txt)."""

def setting_table() -> list[dict[str, Any]]:
    """Every setting as declared: section, key, default, accepts, secret, meaning,
    environment."""
