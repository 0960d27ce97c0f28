"""Collection of test_*.xlsx keyword case workbooks and the running of their steps
(native module behind lumox._workbook_plugin)."""

import inspect
import types
from collections.abc import Iterator, Mapping
from pathlib import Path
from typing import Any, NotRequired, TypedDict

import pytest

# The steps of WorkbookItem are plain dicts: this name is for type checkers only.
class _WorkbookStep(TypedDict):
    """One step: a row below the header whose keyword cell (column C) is not empty."""

    row: int  # the row number in the sheet (1-based; row 1 is the header)
    index: int  # the step's position among the case's steps (1-based)
    number: Any  # the number cell (column A) as typed, None when empty
    description: str  # column B, without surrounding blanks
    keyword: str  # column C, without surrounding blanks
    args: tuple[Any, ...]  # columns D.. up to the last non-empty cell, as typed
    # A retry row: how many rows above it it repeats, its tries and the seconds between.
    covers: NotRequired[int]
    times: NotRequired[int]
    delay: NotRequired[float]
    sheet: NotRequired[str]  # a row of a sheet that run_sheet runs: that sheet's title

class VariableError(LookupError):
    """A step argument refers to {name}, and name is no variable of the run."""

class FixtureMapping(Mapping[str, Any]):
    """The fixtures of a workbook case by name, given to its keyword object.

    Looking a name up starts that fixture through the case's fixture request (on first
    use; later lookups give the same value). An unknown fixture is a KeyError. Iteration,
    len() and `in` cover the fixtures active for the case and start none.
    """

    def __init__(self, request: pytest.FixtureRequest) -> None: ...
    def __getitem__(self, name: str) -> Any: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def __contains__(self, name: object) -> bool: ...

class WorkbookFile(pytest.File):
    """A test_*.xlsx workbook: one case per sheet but ``_key_word``. A workbook that
    cannot be read is a CollectError naming the file."""

    def collect(self) -> list[WorkbookItem]: ...

class WorkbookCase:
    """The test object of one workbook case: asks for the ``request`` fixture."""

    __signature__: inspect.Signature  # (request)
    @property
    def __code__(self) -> types.CodeType:
        """An empty code object with the workbook as its file, for pytest's locations."""
    @property
    def __globals__(self) -> dict[str, Any]:
        """A copy of the run's variables, where the conditions of skipif/xfail marks are
        evaluated."""
    def __call__(self, request: pytest.FixtureRequest) -> None: ...

class WorkbookItem(pytest.Function):
    """One workbook case (a sheet)."""

    workbook: Path
    sheet: str
    steps: list[_WorkbookStep]
    #: The step being run, and its arguments with {name} references replaced.
    current_step: _WorkbookStep | None
    current_args: tuple[Any, ...] | None
    #: The case's keyword object while the case runs (None before and after).
    keyword_object: Any
    #: The steps of the workbook's sheets that run_sheet rows run, by sheet title.
    flow_sheets: dict[str, list[_WorkbookStep]]
    def runtest(self) -> None:
        """Creates the case's keyword object -- keyword_class()(lumox.steps.exchanger,
        FixtureMapping(request)) -- and runs each step: replaces the {name} references of
        its arguments, then, as one report step, calls
        ``getattr(obj, "_key_" + keyword)(*args)``.
        Variables the step saves with set_vars become template globals too. At the end the
        keyword object's httpx client is closed."""
    def reportinfo(self) -> tuple[Path, int, str]:
        """(workbook, 0, "case: <sheet>"): a workbook has no lines."""
    # pytest passes items no `style` (only collectors' failures get one).
    def repr_failure(  # type: ignore[override]
        self, excinfo: pytest.ExceptionInfo[BaseException]
    ) -> Any:
        """Workbook, sheet, row, step, keyword, arguments and "ErrorType: message"."""

class WorkbookCaseFailure:
    """Report of a failed case: ``toterminal(tw)``, ``reprcrash.message``, ``str()``."""

    lines: list[tuple[str, bool]]
    reprcrash: Any
    def toterminal(self, tw: Any) -> None: ...

def collect_file(file_path: Path, parent: pytest.Collector) -> WorkbookFile | None:
    """The collector of a test_*.xlsx workbook, None for other files."""

def excuse_broken_files(session: pytest.Session) -> int:
    """Takes the case files that failed to load out of the session's failure count and
    returns how many there were (each is excused once)."""

def thaw_at_cleanup(config: pytest.Config) -> None:
    """As ``lumox.yaml_cases.thaw_at_cleanup``: whichever runs first registers it."""

def freeze_before_collection() -> None:
    """As ``lumox.yaml_cases.freeze_before_collection``."""

def freeze_collected_cases(session: pytest.Session) -> None:
    """``gc.freeze()`` after the collection, when the session holds workbook cases."""

def keyword_class() -> type:
    """The keyword class of workbook cases, as ``[lumox] keyword_type`` names it."""

#: The rows the runner carries out itself, whatever the keyword class, declared as keyword
#: methods are (see KeywordMethod.declaration): name, summary and params, a list of
#: {name, kind, doc, required, repeats[, default]}.
runner_keywords: list[dict[str, Any]]

def _sheet_rows(
    data: bytes, own_reader: bool, whole_rows: bool = False
) -> list[tuple[str, list[tuple[int, tuple[Any, ...]]]]] | None:
    """The rows of every sheet of the workbook file `data` as lumox's own reader
    (`own_reader`) or openpyxl reads them: [(title, [(row number, cells)])]. None when
    lumox's reader leaves the workbook to openpyxl. Rows without a keyword keep only their
    first three cells unless `whole_rows` (sheets of data). For checking that the two agree,
    and for reading data sheets."""
