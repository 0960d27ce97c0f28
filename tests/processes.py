"""The browser and driver processes on this machine, to see that a run leaves none behind."""

import time
from pathlib import Path


def browser_processes():
    """Process ids of the Chromium browsers and ChromeDrivers running now."""
    found = set()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            name = (entry / "comm").read_text().strip()
        except OSError:
            continue
        if name.startswith("chrom"):
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
