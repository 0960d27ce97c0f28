"""Collection of test_*.yaml case files and the running of their steps."""

import inspect
import types
from pathlib import Path
from typing import Any

import pytest

class YamlCaseFile(pytest.File):
    """A test_*.yaml / test_*.yml file: one case per YAML document.

    Collecting it raises ``CollectError`` listing every problem of the file (invalid YAML,
    a document that is not a case, missing ``test_name``/``steps``, a step that is not a
    mapping, a bad ``marks`` entry, a repeated ``test_name``).
    """

    def collect(self) -> list[YamlItem]: ...

class YamlCase:
    """The test object of one case: asks for the ``request`` fixture and carries the
    case's marks (``pytestmark``), so pytest's fixtures and marks apply to it."""

    __signature__: inspect.Signature  # (request)
    pytestmark: list[pytest.Mark]
    @property
    def __code__(self) -> types.CodeType:
        """An empty code object at the case's file and line, for pytest's locations."""
    @property
    def __globals__(self) -> dict[str, Any]:
        """A copy of the run's variables, where the conditions of skipif/xfail marks are
        evaluated."""
    def __call__(self, request: pytest.FixtureRequest) -> None:
        """Runs the steps of ``request.node``."""

class YamlItem(pytest.Function):
    """One YAML case. Its steps run through the hook ``pytest_yaml_run_step``."""

    #: The case's document as written (a passing case drops it; read again when asked for).
    case: dict[str, Any]
    #: The case's steps as written (``case["steps"]``).
    steps: list[dict[str, Any]]
    #: The step being run, rendered over the run's variables.
    current_step: dict[str, Any] | None
    #: 1-based number of the step being run.
    current_step_index: int | None
    #: The last response stored by the step runner (None before any request).
    resp: Any
    def runtest(self) -> None:
        """Renders each step just before it runs, sets ``current_step`` and
        ``current_step_index`` and calls ``pytest_yaml_run_step(item, request)``."""
    def reportinfo(self) -> tuple[Path, int | None, str]:
        """(file, 0-based line of the case's document, "case: <test_name>")."""
    # pytest passes items no `style` (only collectors' failures get one).
    def repr_failure(  # type: ignore[override]
        self, excinfo: pytest.ExceptionInfo[BaseException]
    ) -> Any:
        """Case, file, step number, the step as rendered and "ErrorType: message"
        (the full traceback follows with --fulltrace)."""

class YamlCaseFailure:
    """Report of a failed step: ``toterminal(tw)``, ``reprcrash.message``, ``str()``."""

    lines: list[tuple[str, bool]]
    reprcrash: Any
    def toterminal(self, tw: Any) -> None: ...

def collect_file(file_path: Path, parent: pytest.Collector) -> YamlCaseFile | None:
    """The collector of a test_*.yaml / test_*.yml file, None for other files."""

def excuse_broken_files(session: pytest.Session) -> int:
    """Takes the case files that failed to load out of the session's failure count and
    returns how many there were (each is excused once)."""

def thaw_at_cleanup(config: pytest.Config) -> None:
    """Gives the objects frozen during the run back to the cyclic garbage collector when
    ``config`` is cleaned up (registered once per config)."""

def freeze_before_collection() -> None:
    """``gc.freeze()``: what exists before the collection lives as long as the session."""

def freeze_collected_cases(session: pytest.Session) -> None:
    """``gc.freeze()`` again after the collection, when the session holds YAML cases."""

def case_schema() -> dict[str, Any]:
    """The JSON Schema of case files (draft 7), as `lumox schema` prints it."""

def case_format() -> list[dict[str, Any]]:
    """Every section of the case format with its keys: name, required, meaning, schema."""
