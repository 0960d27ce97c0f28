"""The browser and driver processes on this machine, to see that a run leaves none behind."""

import os
import time
from pathlib import Path


def _xdist_worker(entry):
    """The xdist worker whose environment the process inherited, or None."""
    try:
        environ = (entry / "environ").read_bytes()
    except OSError:
        return None
    for variable in environ.split(b"\0"):
        if variable.startswith(b"PYTEST_XDIST_WORKER="):
            return variable.split(b"=", 1)[1].decode()
    return None


def browser_processes():
    """Process ids of the Chromium browsers and ChromeDrivers running now.

    Under xdist, only those started from this worker: the other workers' browsers come and
    go meanwhile. They are told apart by the environment they inherited, which a browser
    left behind keeps after its parent is gone.
    """
    worker = os.environ.get("PYTEST_XDIST_WORKER")
    found = set()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            name = (entry / "comm").read_text().strip()
        except OSError:
            continue
        if name.startswith("chrom") and (worker is None or _xdist_worker(entry) == worker):
            found.add(int(entry.name))
    return found


def left_behind(before, patience=5.0):
    """The browser processes that are not in `before`, once those quitting have gone."""
    deadline = time.monotonic() + patience
    while True:
        extra = browser_processes() - before
        if not extra or time.monotonic() > deadline:
            return extra
        time.sleep(0.1)
