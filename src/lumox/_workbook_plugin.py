"""pytest plug-in that collects keyword cases in workbooks (``test_*.xlsx``); see
lumox.workbooks."""

import pytest

from lumox import workbooks


def pytest_collect_file(file_path, parent):
    return workbooks.collect_file(file_path, parent)


@pytest.hookimpl(tryfirst=True)
def pytest_configure(config):
    # Before pytest's own plug-ins register their cleanups, so this one runs after them.
    workbooks.thaw_at_cleanup(config)


@pytest.hookimpl(wrapper=True)
def pytest_collection(session):
    # What exists before and what collection makes live until the session ends: kept out
    # of the garbage collector's passes.
    workbooks.freeze_before_collection()
    items = yield
    workbooks.freeze_collected_cases(session)
    return items


@pytest.hookimpl(wrapper=True)
def pytest_runtestloop(session):
    # Broken workbooks are reported, but the other files still run.
    excused = workbooks.excuse_broken_files(session)
    try:
        return (yield)
    finally:
        session.testsfailed += excused
