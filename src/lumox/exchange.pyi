"""The run's variable store (native module)."""

import logging
from typing import Any

import httpx

from lumox.files import YamlFile

logger: logging.Logger

class Exchange:
    _debug: Any
    _data: Any
    file: YamlFile
    def __init__(self, path: str = "", data: Any = None, debug: bool = False) -> None: ...
    def extract(
        self, resp: httpx.Response, var_name: str, attr: str, expr: str, index: int = 0
    ) -> None: ...
    def dump(self) -> None: ...
