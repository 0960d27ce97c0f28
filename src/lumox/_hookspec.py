"""Hooks declared by the YAML case plug-in."""

import pytest


@pytest.hookspec
def pytest_yaml_run_step(item, request):
    """Run one step of a YAML case.

    ``item.current_step`` holds the step mapping, already rendered with the run's
    variables; ``request`` is the case's fixture request. A raised error fails the case.
    """
