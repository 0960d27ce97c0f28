"""The operations of the lumox command: start, run, report, check, docs, and main_with
(native module behind lumox.cli)."""

import logging
import os
from collections.abc import Callable, Iterable, Sequence
from typing import Any, Literal, Protocol

import pytest

from lumox import sender as sender

logger: logging.Logger  # "lumox.pytest"
#: The path of this module's own file (its directory is the package's).
file_path: str

# What pytest.main takes as plug-ins: names of plug-in modules or plug-in objects.
_Plugins = Sequence[str | object] | None
# Arguments of pytest: one text is one word.
_RunnerArgs = str | Iterable[str]

class PytestIniGuard:
    """An operation that makes sure pytest.ini exists in the working directory (from the
    packaged template, with the settings reloaded) before it runs. Made by
    write_pytest_ini, with the name, doc and signature of the operation it wraps."""

    __wrapped__: Callable[..., Any]
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

class TestDirScope:
    """The scope of switch_test_dir: the working directory is the target inside it and the
    previous one again after it, also after an error."""

    target_path: str | os.PathLike[str]
    allow_file: bool
    #: The working directory before the scope was entered; None outside the scope.
    previous: str | None
    def __init__(self, target_path: str | os.PathLike[str], allow_file: bool = False) -> None: ...
    def __enter__(self) -> None: ...
    def __exit__(
        self, exc_type: object, exc_value: object, traceback: object
    ) -> Literal[False]: ...

def write_pytest_ini(func: Callable[..., Any]) -> PytestIniGuard:
    """The operation func, creating pytest.ini from the packaged template first when the
    working directory has none."""

def switch_test_dir(
    target_path: str | os.PathLike[str], allow_file: bool = False
) -> TestDirScope:
    """Temporarily makes `target_path` the working directory (its parent directory when it
    is a file and `allow_file`)."""

def start(name: str, kw_type: str = "all") -> None:
    """Writes test_<name>.xlsx in the working directory: a case sheet whose keyword column
    offers the keywords of the library `kw_type` ("all", "api", "web" or "app"). ValueError
    for a name that cannot be a sheet title or file name, FileExistsError when the file
    exists."""

# run and report are PytestIniGuard objects wrapping these operations.
class _Run(Protocol):
    __wrapped__: Callable[..., Any]
    def __call__(
        self, runner_args: _RunnerArgs = (), plugins: _Plugins = None
    ) -> int | pytest.ExitCode: ...

class _Report(Protocol):
    __wrapped__: Callable[..., Any]
    def __call__(
        self, s: bool = False, runner_args: _RunnerArgs = (), plugins: _Plugins = None
    ) -> bool | None: ...

#: pytest.main(runner_args, plugins=plugins), after creating pytest.ini when missing.
run: _Run
#: Builds the Allure HTML report of the last run; with `s` (or [lumox] allure_show) sends the
#: report notice and serves the report until stopped. True when built (and, with `s`,
#: served), False when serving failed, None (after printing why) when nothing was built.
report: _Report

def check(paths: Iterable[str]) -> int:
    """Collects the cases of `paths` without running them and prints the problems of their
    files; 0 when there are none, else 1."""

def docs(kw_type: str = "all", *args: Any, **kwargs: Any) -> None:
    """Prints the documentation of every keyword of the library `kw_type`, then the rows
    the workbook runner carries out itself."""

def main_with(path: str | os.PathLike[str], *args: Any, **kwargs: Any) -> int | pytest.ExitCode:
    """Runs the tests with `path` (a directory, or a file's directory) as the working
    directory; further arguments go to run. The previous directory is restored after.
    Also set as ``pytest.main_with`` when pytest has none."""
