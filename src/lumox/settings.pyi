"""Settings of lumox from pytest.ini and the environment (native module)."""

import enum

class SettingsError(ValueError):
    """A setting has a value of the wrong kind; the message names its source."""

class HttpUrl(str):
    """An http:// or https:// address with a host, checked when made."""

    def __new__(cls, value: str) -> HttpUrl: ...

class DriverEnum(enum.StrEnum):
    chrome = "chrome"
    chromium = "chromium"
    firefox = "firefox"
    edge = "edge"

class NotSetEnum(enum.Enum):
    """The marker of an unset value; false in a truth test."""

    NOT_SET = "not set"

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
    email_ca_file: str
    keyword_type: str  # "all", "api", "web", "app" or "module:ClassName"

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
