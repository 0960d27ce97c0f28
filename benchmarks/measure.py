"""Runs one command as a child process and measures it: CPU time (user + sys), wall time
and peak RSS, all from the child's own rusage (os.wait4)."""

from __future__ import annotations

import os
import statistics
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path


@dataclass(frozen=True)
class Command:
    name: str            # what the table and the logs call it
    argv: list[str]
    cwd: Path
    env: dict[str, str]
    ok_codes: tuple[int, ...] = (0,)


@dataclass(frozen=True)
class Sample:
    cpu: float   # seconds
    wall: float  # seconds
    rss: int     # peak resident set, KB


class RunError(RuntimeError):
    pass


def run(command: Command, log_dir: Path, timeout: float = 900) -> Sample:
    """Runs `command` once; its output goes to log_dir/<name>.log."""
    log_dir.mkdir(parents=True, exist_ok=True)
    log = log_dir / f"{command.name}.log"
    with open(log, "wb") as out:
        start = time.perf_counter()
        proc = subprocess.Popen(command.argv, cwd=command.cwd, env=command.env,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        # A hung child is killed, by its own PID, so a run always ends.
        watchdog = threading.Timer(timeout, _kill, (proc,))
        watchdog.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        except BaseException:
            _kill(proc)
            proc.wait()
            raise
        finally:
            watchdog.cancel()
        wall = time.perf_counter() - start
    # os.wait4 reaped the child, so Popen must not wait for it again.
    proc.returncode = code = os.waitstatus_to_exitcode(status)
    if code not in command.ok_codes:
        tail = log.read_text(encoding="utf-8", errors="replace").splitlines()[-25:]
        raise RunError(f"{command.name} exited with {code} (see {log}):\n" + "\n".join(tail))
    return Sample(cpu=usage.ru_utime + usage.ru_stime, wall=wall, rss=usage.ru_maxrss)


def _kill(proc: subprocess.Popen) -> None:
    if proc.returncode is None:
        try:
            proc.kill()
        except ProcessLookupError:
            pass


def alternate(commands: list[Command], runs: int, log_dir: Path) -> dict[str, list[Sample]]:
    """Runs the commands in turn, A B C A B C ..., `runs` rounds; samples by name."""
    samples: dict[str, list[Sample]] = {c.name: [] for c in commands}
    for _ in range(runs):
        for command in commands:
            samples[command.name].append(run(command, log_dir))
    return samples


@dataclass(frozen=True)
class Stat:
    median: float
    low: float
    high: float

    @classmethod
    def of(cls, values: list[float]) -> Stat:
        return cls(statistics.median(values), min(values), max(values))

    def scaled(self, factor: float) -> Stat:
        return Stat(self.median * factor, self.low * factor, self.high * factor)


def ratio(a: Stat, b: Stat) -> float:
    return a.median / b.median if b.median else float("nan")
