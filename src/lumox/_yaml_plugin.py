"""pytest plug-in that collects YAML cases (``test_*.yaml``); see lumox.yaml_cases."""

import pytest

from lumox import _hookspec, yaml_cases


def pytest_addhooks(pluginmanager):
    pluginmanager.add_hookspecs(_hookspec)


def pytest_collect_file(file_path, parent):
    return yaml_cases.collect_file(file_path, parent)


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    # Before pytest's own plug-ins register their cleanups, so this one runs after them.
    yaml_cases.thaw_at_cleanup(config)


@pytest.hookimpl(wrapper=True)
def pytest_collection(session):
    # What exists before and what collection makes live until the session ends: kept out
    # of the garbage collector's passes.
    yaml_cases.freeze_before_collection()
    items = yield
    yaml_cases.freeze_collected_cases(session)
    return items


@pytest.hookimpl(wrapper=True)
def pytest_runtestloop(session):
    # Broken case files are reported, but the other files still run.
    excused = yaml_cases.excuse_broken_files(session)
    try:
        return (yield)
    finally:
        session.testsfailed += excused
