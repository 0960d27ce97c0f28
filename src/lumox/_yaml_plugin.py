"""pytest plug-in that collects YAML cases (``test_*.yaml``); see lumox.yaml_cases."""

import pytest

from lumox import _hookspec, yaml_cases


def pytest_addhooks(pluginmanager):
    pluginmanager.add_hookspecs(_hookspec)


def pytest_collect_file(file_path, parent):
    return yaml_cases.collect_file(file_path, parent)


@pytest.hookimpl(wrapper=True)
def pytest_runtestloop(session):
    # Broken case files are reported, but the other files still run.
    excused = yaml_cases.excuse_broken_files(session)
    try:
        return (yield)
    finally:
        session.testsfailed += excused
