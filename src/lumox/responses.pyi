"""Response validation and text assertions (native module)."""

from collections.abc import Mapping, Sequence
from typing import Any

import httpx

# glob (whole-text wildcard match), same (exact), re (regular-expression search),
# contains (substring).
_TextAssertionData = Any | Mapping[str, Any]

class TextAssertion:
    name: Any
    value: str
    mode: str
    msg: Any
    def __init__(self, name: Any, value: Any, mode: str | None = None, msg: Any = None) -> None: ...
    def validate(self, text: Any) -> bool: ...

class TextField:
    @staticmethod
    def form_asserts(name: Any, data: _TextAssertionData) -> TextAssertion: ...

def validator(
    resp: httpx.Response,
    *,
    status_code: int | str | Sequence[int | str] = ...,
    headers: Mapping[str, _TextAssertionData] = ...,
    text: _TextAssertionData = ...,
    json: Mapping[str, _TextAssertionData] = ...,
) -> dict[str, str]: ...
