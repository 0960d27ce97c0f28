"""Keyword libraries: ApiKeyWord, WebKeyWord, AppKeyWord, their union KeyWord, and the
choice of a library by type name (native module)."""

import logging
from types import ModuleType
from typing import Any, ClassVar, Optional

import httpx

from lumox.actlib_utils import BaseKeyWord as BaseKeyWord
from lumox.actlib_utils import MockRequest as MockRequest
from lumox.actlib_utils import MyActionChains as MyActionChains
from lumox.settings import DriverEnum as DriverEnum
from lumox.settings import HttpUrl as HttpUrl
from lumox.settings import NotSetEnum as NotSetEnum

logger: logging.Logger
settings: ModuleType

# Parameter defaults taken from the settings when the module is loaded.
DEFAULT_BROWSER: DriverEnum  # key_new_driver(browser=...)
DEFAULT_HUB: HttpUrl | NotSetEnum  # key_new_driver(hub=...)
DEFAULT_FORCE_CLICK: bool  # key_click(force=...)

class KeywordMethod:
    """A keyword method key_<name> declared in C++: binds its declared parameters, ignores
    further arguments and runs as one report step titled `title`."""

    keyword: str
    title: str
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __get__(self, instance: Any, owner: Optional[type] = None) -> Any: ...

class WebKeyWord(BaseKeyWord):
    """Keyword library for browser tests over WebDriver."""

class AppKeyWord(BaseKeyWord):
    """Keyword library for mobile app tests over Appium."""

    _ac: ClassVar[Optional[MyActionChains]]

class ApiKeyWord(BaseKeyWord):
    """Keyword library for HTTP API tests."""

    client: httpx.Client
    _current_request: Optional[MockRequest]
    _current_response: Optional[httpx.Response]
    # The request record whose JSON body set_json gave (only then does send_http send JSON).
    _json_request: Optional[MockRequest]

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        """Arguments of BaseKeyWord (exchanger, usefixtures); then key_new_client()."""
    @property
    def current_request(self) -> MockRequest:
        """The request under construction; a new one forgets the last response."""
    @property
    def current_response(self) -> httpx.Response:
        """The last response; ValueError while no request has been sent."""
    @staticmethod
    def log_request(request: httpx.Request) -> None: ...
    @staticmethod
    def log_response(response: httpx.Response) -> None: ...
    # Keywords: every one accepts and ignores further positional and named arguments.
    def key_new_client(self, timeout: float = 5.0, *args: Any, **kwargs: Any) -> None: ...
    def key_set_baseurl(self, url: str, *args: Any, **kwargs: Any) -> None: ...
    def key_set_follow_redirects(self, follow: Any = False, *args: Any, **kwargs: Any) -> None: ...
    def key_set_headers(self, headers: str, *args: Any, **kwargs: Any) -> None: ...
    def key_set_cookies(self, cookies: str, *args: Any, **kwargs: Any) -> None: ...
    def key_set_params(self, params: str, *args: Any, **kwargs: Any) -> None: ...
    def key_set_json(self, _json: str, *args: Any, **kwargs: Any) -> None: ...
    def key_set_form(self, from_dict: str, *args: Any, **kwargs: Any) -> None: ...
    def key_add_header(self, key: str, value: str, *args: Any, **kwargs: Any) -> None: ...
    def key_add_cookie(self, key: str, value: str, *args: Any, **kwargs: Any) -> None: ...
    def key_add_query(self, key: str, value: Any, *args: Any, **kwargs: Any) -> None: ...
    def key_add_form(self, key: str, value: Any, *args: Any, **kwargs: Any) -> None: ...
    def key_add_file(self, key: str, value: str, *args: Any, **kwargs: Any) -> None: ...
    def key_send_http(self, method: str, url: str, *args: Any, **kwargs: Any) -> None: ...
    def key_save_code(self, var_name: str, *args: Any, **kwargs: Any) -> None: ...
    def key_save_headers(self, var_name: str, *args: Any, **kwargs: Any) -> None: ...
    def key_save_body(self, var_name: str, *args: Any, **kwargs: Any) -> None: ...
    def key_save_jsonpath(self, var_name: str, value: str, *args: Any, **kwargs: Any) -> None: ...

class KeyWord(WebKeyWord, AppKeyWord, ApiKeyWord):
    """All keyword libraries in one; built by ApiKeyWord's constructor."""

def get_class_by_type(kw_type: str = "all") -> type[BaseKeyWord]:
    """"api" -> ApiKeyWord, "web" -> WebKeyWord, "app" -> AppKeyWord (any case); anything
    else -> KeyWord. TypeError for a non-text kw_type."""
