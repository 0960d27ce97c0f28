"""Notifications to WeCom, DingTalk and e-mail (native module)."""

import logging
from collections.abc import Callable, Mapping
from concurrent.futures import Future
from typing import Any, TypeVar

_T = TypeVar("_T")

logger: logging.Logger

class NoticePool:
    """Sends notices on up to 4 daemon worker threads; at exit it waits for them at most
    15 s. The module's one pool is `pool`."""

    # pybind11's placeholder: the class defines no constructor, so this raises TypeError.
    def __init__(self, *args: Any, **kwargs: Any) -> None: ...
    def submit(self, fn: Callable[..., _T], *args: Any) -> Future[_T]:
        """Runs fn(*args) on a worker; returns its concurrent.futures.Future."""
    @property
    def max_workers(self) -> int:
        """Worker threads at most."""
    @property
    def pending(self) -> int:
        """Notices submitted and not yet finished."""

pool: NoticePool

def send_result(data: Mapping[str, Any]) -> None: ...
def send_report(url: object) -> None: ...
def to_qywx(content: str) -> bool | None: ...
def to_dingding(content: str) -> bool | None: ...
def to_email(content: str) -> None: ...

# Run summary of a pytest run (called from the lumox pytest plug-in).
def send_run_summary(terminalreporter: Any) -> None: ...
def share_collection(session: Any) -> None: ...
def gather_collection(node: Any) -> None: ...
