"""One run over many processes and machines: shards, run_once cases, merged results and
one summary (native module behind the hooks of lumox._plugin)."""

from os import PathLike
from typing import Any

import pytest

#: The file of a results folder that holds its run's counts.
summary_file: str

def add_options(parser: pytest.Parser) -> None:
    """Adds --shard, --durations-file, --store-durations, --share-dir, --run-id,
    --run-once-timeout and --no-notify."""

def check_share_folder(config: pytest.Config) -> None:
    """Makes the run's meeting folder of run_once cases; a --share-dir without a run id is a
    usage error."""

def arrange_items(config: pytest.Config, items: list[pytest.Item]) -> None:
    """Keeps this shard's items (--shard) and puts the run_once cases first."""

def record_duration(report: pytest.TestReport) -> None:
    """Adds a test report's duration to this run's durations."""

def store_durations(config: pytest.Config) -> None:
    """Writes the run's durations into the durations file (--store-durations)."""

def before_case(item: pytest.Item) -> None:
    """Claims or waits for a run_once case; before other cases, waits for them all."""

def after_report(report: pytest.TestReport) -> None:
    """Leaves the outcome and variables of a run_once case this process ran."""

def ran_elsewhere(report: pytest.TestReport) -> bool:
    """Whether a skip report is that of a run_once case run by another process."""

def summed_summaries(summaries: list[dict[str, Any]]) -> dict[str, Any]:
    """The counts of several runs' summaries as one run's."""

def merge_results(sources: list[str | PathLike[str]], into: str | PathLike[str]) -> dict[str, Any]:
    """Copies the Allure results folders into one, with their summed summary."""

def notify_results(sources: list[str | PathLike[str]]) -> dict[str, Any]:
    """Sends one run summary for the results folders and returns its counts."""
