"""Assertions of YAML validate steps and the pairwise assertion executor (native module)."""

import logging
from collections.abc import Mapping, Sequence
from typing import Any

logger: logging.Logger

def new_assertion(assert_name: Any, assert_data: Any) -> None: ...

class Assertion:
    # assert_type: "equals", "not_equals" / "not equals", "in", "not_in" / "not in".
    def __init__(self, assert_type: str, assert_data: Mapping[Any, Sequence[Any]]) -> None: ...
