"""The run's variable store (native module)."""

import logging
from typing import Any

import httpx

from lumox.files import YamlFile

logger: logging.Logger

#: Variables whose last extraction found nothing -> how ("extract 'token': '$.tok' found
#: nothing in json"), for the failure report of a later step. The YAML case runner empties
#: it when a case starts.
misses: dict[str, str]

class Exchange:
    _debug: Any
    _data: Any
    file: YamlFile
    def __init__(self, path: str = "", data: Any = None, debug: bool = False) -> None: ...
    def extract(
        self, resp: httpx.Response, var_name: str, attr: str, expr: str, index: int = 0
    ) -> None: ...
    def dump(self) -> None: ...
