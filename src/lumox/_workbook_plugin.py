"""pytest plug-in that collects keyword cases in workbooks (``test_*.xlsx``); see
lumox.workbooks."""

import pytest

from lumox import workbooks


def pytest_collect_file(file_path, parent):
    return workbooks.collect_file(file_path, parent)


@pytest.hookimpl(wrapper=True)
def pytest_runtestloop(session):
    # Broken workbooks are reported, but the other files still run.
    excused = workbooks.excuse_broken_files(session)
    try:
        return (yield)
    finally:
        session.testsfailed += excused
