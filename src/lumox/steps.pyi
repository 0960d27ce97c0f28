"""Step runner of the lumox pytest plug-in (native module behind lumox._plugin)."""

import logging
from typing import Any, Literal

import httpx
import pytest

from lumox.exchange import Exchange

logger: logging.Logger  # "lumox._plugin"
http_logger: logging.Logger  # "lumox.http"

class HTTPClient(httpx.Client):
    """httpx.Client logging each request and response (three INFO lines each) on "lumox.http".

    Keyword arguments are those of httpx.Client; a caller's ``event_hooks`` list for
    "request" or "response" replaces the logging hook of that direction.
    """

    def __init__(self, **kwargs: Any) -> None: ...
    def log_request(self, request: httpx.Request) -> None: ...
    def log_response(self, response: httpx.Response) -> None: ...

exchanger: Exchange  # bound to settings.lumox.vars_file
client: HTTPClient  # base_url = settings.lumox_api.base_url

def run_step(item: Any, request: Any) -> Literal[1]:
    """Runs item.current_step: its mock/request/response/extract/validate keys in order."""

def load_saved_variables() -> None:
    """At the start of a run: the variables of lumox.vars_file become template globals (the
    variable store is made now when there is such a file). A file that cannot be read
    raises pytest.UsageError naming it."""

def follow_run_config(config: pytest.Config) -> None:
    """At the start of a run: settings from the configuration file pytest uses
    (config.inipath) when that is not ./pytest.ini; the run-wide client follows."""

def leave_run_config(config: pytest.Config) -> None:
    """At the end of a run: the settings file used before it again."""

def save_variables(config: pytest.Config | None = None) -> None:
    """Writes the variables file at run end when vars_file is set and vars_save is true:
    merges this process's changed variables into it (a pytest-xdist controller, told by
    ``config``, only what it set itself)."""
