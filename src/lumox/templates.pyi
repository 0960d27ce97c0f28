"""The run's variables and Jinja2 rendering of YAML steps."""

from typing import Any

import jinja2

#: The run's variables, name -> value. One dict for the whole process: mutate it, never
#: replace it.
env_globals: dict[str, Any]

#: The Jinja2 environment steps are rendered with (StrictUndefined, no autoescape,
#: trailing newlines kept). Filters and tests may be added to it.
environment: jinja2.Environment

class TemplateError(Exception):
    """A step value could not be rendered: undefined variable or bad template."""

def add_globals(**variables: Any) -> None:
    """Adds or replaces run variables."""

def checked_value(value: Any) -> Any:
    """A copy of a variable's value for use in a request, its texts left as they are;
    TemplateError when it contains itself, nests too deep, holds a lone surrogate or grows
    beyond 50 MB written out."""

def render(value: Any, variables: dict[str, Any] | None = None) -> Any:
    """Returns a copy of a step value with every string rendered over ``env_globals``.

    ``variables`` (a data row's values, a flow's parameters) stand over ``env_globals`` for
    this rendering only.

    A string that is exactly one ``{{ expr }}`` keeps the type of the value; other strings
    containing ``{{`` or ``{%`` render to text; strings without them are returned as they
    are. Mapping keys are rendered to text when they contain ``{{``. Raises TemplateError
    naming the variable for an undefined variable.
    """
