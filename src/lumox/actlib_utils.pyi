"""Keyword engine core: keyword base class, locator expressions, validator, touch action
chains and the request record (native module)."""

import logging
from collections.abc import Callable, Mapping
from typing import Any, ClassVar

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.pointer_actions import PointerActions
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.remote.webdriver import WebDriver
from selenium.webdriver.remote.webelement import WebElement
from selenium.webdriver.support.wait import WebDriverWait

from lumox.exchange import Exchange

logger: logging.Logger

class KeywordMethod:
    """A keyword method key_<name> declared in C++: binds its declared parameters, ignores
    further arguments and runs as one report step titled `title`."""

    keyword: str
    title: str
    #: Each declared parameter's kind by name ("text", "seconds", "locator", ...).
    param_kinds: dict[str, str]
    #: The declaration as data: name, title, summary and params, a list of
    #: {name, kind, doc, required[, default]}.
    declaration: dict[str, Any]
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __get__(self, instance: Any, owner: type | None = None) -> Any: ...

class LumoxLocator:
    """元素定位表达式，[value , by , index]
    代替此前的 (by, value)"""

    _value: str
    _by: str  # default "xpath"
    _index: int  # default 0
    _split_char: str  # ";;"
    _escape_char: str  # "\\"
    _escape_source: str
    _escape_target: str
    def __init__(self, locator_str: str) -> None:
        """Parses "value [;; BY [;; index]]"; ValueError for an unknown BY or a bad index."""
    @property
    def value(self) -> str: ...
    @value.setter
    def value(self, text: str) -> None: ...
    @property
    def by(self) -> str: ...
    @by.setter
    def by(self, text: str) -> None:
        """`text` is a strategy member name (ID, XPATH, CSS_SELECTOR, ACCESSIBILITY_ID, ...)."""
    @property
    def index(self) -> int: ...
    @index.setter
    def index(self, text: str) -> None:
        """`text` is decimal digits."""

class Validator:
    """验证器
    执行复杂的断言表达式"""

    parent: BaseKeyWord
    webdriver: WebDriver | None
    value: Any
    verify_name: str
    actual_value: Any
    def __init__(self, parent: BaseKeyWord, value: Any, assert_name: str,
                 actual_value: Any) -> None:
        """Runs assert_<assert_name>(value, actual_value); AssertionError when it fails."""
    def assert_equal(self, a: Any, b: Any) -> None:
        """字符串 a 等于 b"""
    def assert_contains(self, a: Any, b: Any) -> None:
        """字符串 a 包含 b"""
    def assert_in(self, a: Any, b: Any) -> None:
        """字符串 a 被 b 包含"""
    def assert_re(self, a: Any, b: Any) -> None:
        """正则表达表达a 可以匹配 字符串b"""
    def assert_scheme(self, a: Any, b: Any) -> None:
        """数据 b 符合从样例 a 推导出的JSON结构"""

class BaseKeyWord:
    """The base of every keyword library: a keyword is a method key_<name>, called as
    self._key_<name>(...)."""

    _key_prefix: ClassVar[str]  # "_key_"
    _all_keyword: ClassVar[tuple[str, ...] | None]
    _activate_ele: WebElement | None
    driver: WebDriver | None
    client: Any
    wait: WebDriverWait | None
    exchanger: Exchange
    usefixtures: Mapping[str, Any]
    def __init__(self, exchanger: Exchange, usefixtures: Mapping[str, Any]) -> None: ...
    def __getattr__(self, name: str) -> Callable[..., Any]:
        """self._key_<name>: keyword <name> (positional arguments only), logged."""
    @classmethod
    def all_keyword(cls) -> tuple[str, ...]: ...
    @classmethod
    def print_key_doc(cls) -> None: ...
    def set_vars(self, var_name: str, value: Any) -> None: ...
    def key_set_driver(self, fixture_name: str, *args: Any, **kwargs: Any) -> None:
        """关键字：set_driver"""
    def key_assert(self, value: Any, assert_name: str, actual_value: Any = "", *args: Any,
                   **kwargs: Any) -> None:
        """关键字：assert"""
    def can_interactive(self, ele: WebElement) -> bool: ...
    def find_element(self, locator: str) -> WebElement: ...

class MyActionChains(ActionChains):
    pointer_count: int
    def new_pointer(self) -> PointerActions: ...
    def click_by_new_pointer(self, element: WebElement,
                             pause_time: float = 0.1) -> PointerInput: ...
    def touch_by_new_pointer(self, start_x: int, start_y: int, end_x: int, end_y: int,
                             pause_time: float = 0.1) -> PointerInput: ...

class MockRequest:
    headers: dict[str, Any]
    cookies: dict[str, Any]
    params: dict[str, Any]
    data: dict[str, Any]
    json: Any
    files: list[tuple[str, Any]]
    def __init__(self) -> None: ...
    def to_dict(self) -> dict[str, Any]:
        """The record's own field mapping (its __dict__), not a copy."""
