"""Benchmarks lumox against its peers and prints one table (see benchmarks/README.md).

    python benchmarks/run.py [--runs N] [--only startup,yaml,...] [--quick]
"""

from __future__ import annotations

import argparse
import importlib.util
import math
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.request
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import suites  # noqa: E402
from measure import Command, RunError, Stat, alternate, ratio, run  # noqa: E402
from webdriver_proxy import CountingProxy  # noqa: E402

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
WORK = HERE / ".work"
LUMOX_PLUGINS = ["-p", "no:lumox", "-p", "no:lumox_yaml", "-p", "no:lumox_workbook"]

# Sizes: real and --quick.
SIZES = {
    "yaml": ((100, 1000), (20, 100)),
    "collect": ((10_000,), (1000,)),
    # Rows cost a few tens of microseconds: 10,000 of them lift that above the noise of
    # start-up; the 1,000-row run is the one compared whole.
    "workbook": ((10, 1000, 10_000), (10, 100)),
    "cases": ((10, 200), (10, 50)),
    "api": ((10, 1000), (10, 100)),
    "memory": ((1000, 10_000), (100, 1000)),
}
SCENARIOS = ["startup", "yaml", "collect", "workbook", "cases", "api", "memory", "web", "form",
             "app"]
# Debian's chromium and chromium-driver (make browsers).
BROWSER = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


@dataclass
class Row:
    scenario: str
    unit: str
    lumox: Stat
    peer: str = ""
    other: Stat | None = None
    target: str = ""
    met: bool | None = None


class Bench:
    def __init__(self, args):
        self.runs = args.runs
        self.quick = args.quick
        self.base = ""
        self.suites = WORK / "suites"
        self.logs = WORK / "logs"
        self.lumox = [_executable(args.lumox_python)]
        self.lumox_env = _env(_snapshot(args.lumox_pythonpath))
        # An earlier build of lumox, to show what a change cost: `yaml` runs it side by side.
        self.baseline = [_executable(args.baseline_python)] if args.baseline_python else None
        venvs = Path(args.venvs).resolve()
        self.httpx = [str(venvs / "pytest-httpx" / "bin" / "python")]
        self.tavern = [str(venvs / "tavern" / "bin" / "python")]
        self.robot = [str(venvs / "robot" / "bin" / "python")]
        self.robot_web = [str(venvs / "robot-web" / "bin" / "python")]
        self.robot_app = [str(venvs / "robot-app" / "bin" / "python")]
        self.peer_env = _env(None)
        self._made: dict[tuple, Path] = {}

    def size(self, scenario):
        return SIZES[scenario][1 if self.quick else 0]

    def suite(self, kind, *args):
        """Each suite is written once a run of the harness."""
        key = (kind, *args)
        if key not in self._made:
            make = getattr(suites, kind)
            self._made[key] = make(self.suites, *args)
        return self._made[key]

    # -- commands -----------------------------------------------------------------
    def pytest(self, name, python, env, folder, *extra, ok=(0,)):
        return Command(name, [*python, "-m", "pytest", "-q", *extra], folder, env, ok)

    def lumox_run(self, name, folder, *extra, ok=(0,)):
        return self.pytest(name, self.lumox, self.lumox_env, folder, *extra, ok=ok)

    def robot_run(self, name, folder, suite_file):
        argv = [*self.robot, "-m", "robot", "--output", "NONE", "--report", "NONE",
                "--log", "NONE", suite_file]
        return Command(name, argv, folder, self.peer_env)

    def measure(self, commands, warm=()):
        """Warm-up runs (page cache, byte code) are not measured."""
        alternate([c for c in commands if c.name in warm], 1, self.logs)
        return alternate(commands, self.runs, self.logs)

    # -- scenarios ------------------------------------------------------------------
    def startup(self):
        folder = self.suite("empty")
        on = self.lumox_run("startup-lumox", folder, "--co", ok=(5,))
        off = self.lumox_run("startup-no-plugins", folder, "--co", *LUMOX_PLUGINS, ok=(5,))
        bare = self.pytest("startup-bare", self.httpx, self.peer_env, folder, "--co", ok=(5,))
        s = self.measure([on, off, bare], warm={on.name, off.name, bare.name})
        cpu = {k: Stat.of([x.cpu for x in v]) for k, v in s.items()}
        wall = {k: Stat.of([x.wall for x in v]) for k, v in s.items()}
        overhead = Stat.of([a.cpu - b.cpu for a, b in zip(s[on.name], s[off.name])])
        return [
            Row("start-up: pytest --co, empty folder", "cpu s", cpu[on.name],
                "lumox plug-ins off", cpu[off.name]),
            Row("start-up: plug-in overhead (on - off)", "cpu s", overhead,
                target="<= 0.1 s", met=overhead.median <= 0.1),
            Row("start-up: pytest --co, empty folder", "wall s", wall[on.name],
                "lumox plug-ins off", wall[off.name]),
            Row("start-up: pytest --co, empty folder", "cpu s", cpu[on.name],
                "bare pytest venv", cpu[bare.name]),
        ]

    def yaml(self):
        small, big = self.size("yaml")
        tools = {
            "lumox": lambda n: self.lumox_run(f"yaml-lumox-{n}",
                                              self.suite("yaml_cases", n, self.base)),
            "pytest+httpx": lambda n: self.pytest(f"yaml-httpx-{n}", self.httpx, self.peer_env,
                                                  self.suite("httpx_tests", n, self.base)),
            "Tavern": lambda n: self.pytest(f"yaml-tavern-{n}", self.tavern, self.peer_env,
                                            self.suite("tavern_tests", n, self.base)),
        }
        if self.baseline:
            tools["lumox baseline"] = lambda n: self.pytest(
                f"yaml-baseline-{n}", self.baseline, _env(None),
                self.suite("yaml_cases", n, self.base))
        commands = {(t, n): make(n) for n in (small, big) for t, make in tools.items()}
        s = self.measure(list(commands.values()), warm={commands[t, small].name for t in tools})
        per_case = {t: _per_unit(s[commands[t, small].name], s[commands[t, big].name], big - small)
                    for t in tools}
        rows = []
        if self.baseline:
            cpu = {t: per_case[t]["cpu"].scaled(1e3) for t in ("lumox", "lumox baseline")}
            r = ratio(cpu["lumox"], cpu["lumox baseline"])
            rows.append(Row("YAML per case", "cpu ms", cpu["lumox"], "lumox baseline",
                            cpu["lumox baseline"], "<= 1.05x", r <= 1.05))
        for peer, target in (("pytest+httpx", 1.15), ("Tavern", 0.3)):
            whole = {t: Stat.of([x.cpu for x in s[commands[t, big].name]]) for t in ("lumox", peer)}
            rows.append(Row(f"YAML {big} cases, whole run", "cpu s", whole["lumox"], peer,
                            whole[peer]))
            cpu = {t: per_case[t]["cpu"].scaled(1e3) for t in ("lumox", peer)}
            r = ratio(cpu["lumox"], cpu[peer])
            rows.append(Row("YAML per case", "cpu ms", cpu["lumox"], peer, cpu[peer],
                            f"<= {target}x", r <= target))
            wall = {t: per_case[t]["wall"].scaled(1e3) for t in ("lumox", peer)}
            rows.append(Row("YAML per case", "wall ms", wall["lumox"], peer, wall[peer]))
        return rows

    def collect(self):
        (count,) = self.size("collect")
        lumox = self.lumox_run(f"collect-lumox-{count}",
                               self.suite("yaml_cases", count, self.base), "--co")
        peer = self.pytest(f"collect-pytest-{count}", self.httpx, self.peer_env,
                           self.suite("httpx_tests", count, self.base), "--co")
        s = self.measure([lumox, peer], warm={lumox.name, peer.name})
        rows = []
        for unit, field in (("cpu s", "cpu"), ("wall s", "wall")):
            a = Stat.of([getattr(x, field) for x in s[lumox.name]])
            b = Stat.of([getattr(x, field) for x in s[peer.name]])
            met = a.median < 1.5 if field == "cpu" else None
            rows.append(Row(f"collect {count} cases (--co)", unit, a, "pytest parametrized", b,
                            "< 1.5 s" if met is not None else "", met))
        return rows

    def _rows_vs_robot(self, key, lumox_suite, robot_suite, robot_file):
        sizes = self.size(key)
        small, big = sizes[0], sizes[-1]
        whole_size = 1000 if 1000 in sizes else big
        commands = {}
        for n in sizes:
            commands["lumox", n] = self.lumox_run(f"{key}-lumox-{n}", lumox_suite(n))
            commands["robot", n] = self.robot_run(f"{key}-robot-{n}", robot_suite(n), robot_file)
        s = self.measure(list(commands.values()),
                         warm={commands["lumox", small].name, commands["robot", small].name})
        per = {t: _per_unit(s[commands[t, small].name], s[commands[t, big].name], big - small)
               for t in ("lumox", "robot")}
        whole = {t: Stat.of([x.cpu for x in s[commands[t, whole_size].name]])
                 for t in ("lumox", "robot")}
        return per, whole, whole_size

    def workbook(self):
        per, whole, big = self._rows_vs_robot(
            "workbook", lambda n: self.suite("assert_workbook", n, self.base),
            lambda n: self.suite("robot_asserts", n), "asserts.robot")
        cpu = {t: per[t]["cpu"].scaled(1e6) for t in per}
        return [
            Row("workbook assert row", "cpu us", cpu["lumox"], "Robot Framework", cpu["robot"],
                "<= 40 us", cpu["lumox"].median <= 40),
            Row("workbook assert row", "wall us", per["lumox"]["wall"].scaled(1e6),
                "Robot Framework", per["robot"]["wall"].scaled(1e6)),
            Row(f"workbook {big} assert rows, whole run", "cpu s", whole["lumox"],
                "Robot Framework", whole["robot"], "< RF",
                whole["lumox"].median < whole["robot"].median),
        ]

    def cases(self):
        per, _, _ = self._rows_vs_robot(
            "cases", lambda n: self.suite("case_workbook", n, self.base),
            lambda n: self.suite("robot_cases", n), "cases.robot")
        return [
            Row("workbook case (a sheet of 1 assert row)", "cpu ms",
                per["lumox"]["cpu"].scaled(1e3), "Robot Framework test",
                per["robot"]["cpu"].scaled(1e3)),
        ]

    def api(self):
        per, whole, big = self._rows_vs_robot(
            "api", lambda n: self.suite("api_workbook", n, self.base),
            lambda n: self.suite("robot_api", n, self.base), "api.robot")
        return [
            Row("API send_http+assert rows", "cpu ms", per["lumox"]["cpu"].scaled(1e3),
                "RequestsLibrary", per["robot"]["cpu"].scaled(1e3)),
            Row("API send_http+assert rows", "wall ms", per["lumox"]["wall"].scaled(1e3),
                "RequestsLibrary", per["robot"]["wall"].scaled(1e3)),
            Row(f"API {big} requests, whole run", "cpu s", whole["lumox"],
                "RequestsLibrary", whole["robot"]),
        ]

    def memory(self):
        small, big = self.size("memory")
        commands = {}
        for n in (small, big):
            commands["lumox", n] = self.lumox_run(f"memory-lumox-{n}",
                                                  self.suite("yaml_cases", n, self.base))
            commands["httpx", n] = self.pytest(f"memory-httpx-{n}", self.httpx, self.peer_env,
                                               self.suite("httpx_tests", n, self.base))
        s = self.measure(list(commands.values()),
                         warm={commands["lumox", small].name, commands["httpx", small].name})
        peak = {t: Stat.of([x.rss / 1024 for x in s[commands[t, big].name]])
                for t in ("lumox", "httpx")}
        growth = {t: Stat.of([(b.rss - a.rss) / (big - small)
                              for a, b in zip(s[commands[t, small].name],
                                              s[commands[t, big].name])])
                  for t in ("lumox", "httpx")}
        return [
            Row(f"peak RSS, YAML run of {big} cases", "MiB", peak["lumox"], "pytest+httpx",
                peak["httpx"], "< 120 MiB", peak["lumox"].median < 120),
            Row(f"RSS growth per case ({small} -> {big})", "KiB", growth["lumox"], "pytest+httpx",
                growth["httpx"], "<= 5 KiB", growth["lumox"].median <= 5),
        ]


    def _through_proxy(self, proxy, commands):
        """Runs `commands` alternately through `proxy`: wall times, (requests, bytes) and the
        requests themselves of every run, by command name."""
        for command in commands:  # warm-up: page cache, byte code, the browser's files
            run(command, self.logs)
        samples = {c.name: [] for c in commands}
        counts = {c.name: [] for c in commands}
        logs = {}
        for _ in range(self.runs):
            for command in commands:
                proxy.reset()
                samples[command.name].append(run(command, self.logs))
                counts[command.name].append(proxy.counts())
                logs[command.name] = proxy.commands()
        return samples, counts, logs

    @staticmethod
    def _flow_rows(flow, peer, names, samples, counts):
        lumox, other = names
        wall = {n: Stat.of([x.wall for x in s]) for n, s in samples.items()}
        requests = {n: Stat.of([r for r, _ in c]) for n, c in counts.items()}
        sent = {n: Stat.of([b / 1024 for _, b in c]) for n, c in counts.items()}
        return [
            Row(f"{flow}, whole run", "wall s", wall[lumox], peer, wall[other],
                f"<= 0.8x {peer.split()[0]}", ratio(wall[lumox], wall[other]) <= 0.8),
            Row(flow, "requests", requests[lumox], peer, requests[other], "<= peer",
                requests[lumox].median <= requests[other].median),
            Row(flow, "KiB sent", sent[lumox], peer, sent[other]),
        ]

    @staticmethod
    def _steps_row(name, peer, flow, samples, many):
        """The flow's steps once more, start-up and session aside: (T_many - T_1) / (many - 1)."""
        step = {tool: _per_unit(samples[f"{flow}-{tool}-1"], samples[f"{flow}-{tool}-{many}"],
                                many - 1)["wall"] for tool in ("lumox", "robot")}
        return Row(name, "wall ms", step["lumox"].scaled(1000), peer,
                   step["robot"].scaled(1000), f"<= 0.8x {peer.split()[0]}",
                   ratio(step["lumox"], step["robot"]) <= 0.8)

    def web(self):
        """One browser login flow per tool through a proxy that counts the WebDriver
        requests, and the same with its steps repeated, which sets them apart from start-up."""
        return self._browser_flow("web", "browser login flow", "web.robot")

    def form(self):
        """A settings form (a list, a checkbox, keys into a field), as `web` measures it."""
        return self._browser_flow("form", "browser form flow", "form.robot")

    def _browser_flow(self, flow, title, robot_file):
        many = 2 if self.quick else FLOW_REPEATS
        port = _free_port()
        driver = subprocess.Popen([CHROMEDRIVER, f"--port={port}"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        proxy = None
        try:
            _wait_for(f"http://127.0.0.1:{port}/status")
            proxy = CountingProxy(port)
            commands = []
            for repeat in (1, many):
                commands.append(self.lumox_run(f"{flow}-lumox-{repeat}", self.suite(
                    f"{flow}_workbook", self.base, proxy.url, BROWSER, repeat)))
                commands.append(Command(
                    f"{flow}-robot-{repeat}", [*self.robot_web, "-m", "robot", "--output",
                                               "NONE", "--report", "NONE", "--log", "NONE",
                                               robot_file],
                    self.suite(f"robot_{flow}", self.base, proxy.url, BROWSER, repeat),
                    self.peer_env))
            samples, counts, _ = self._through_proxy(proxy, commands)
        finally:
            if proxy is not None:
                proxy.close()
            driver.terminate()
            driver.wait(timeout=30)
        peer = "RF + SeleniumLibrary"
        return [*self._flow_rows(title, peer, (f"{flow}-lumox-1", f"{flow}-robot-1"),
                                 samples, counts),
                self._steps_row(f"{title.replace(' flow', '')} steps, once more", peer, flow,
                                samples, many)]

    def app(self):
        """One app flow per tool on Appium's fake driver, through the counting proxy; the
        requests of each keyword are told apart by the element find that starts it."""
        sys.path.insert(0, str(ROOT / "tests"))
        from appium_server import AppiumNotInstalled, AppiumServer, write_app

        logs_dir = WORK / "appium"
        try:
            server = AppiumServer(logs_dir)
            server.start()
        except AppiumNotInstalled as error:
            raise RunError(str(error)) from None
        proxy = None
        many = 2 if self.quick else FLOW_REPEATS
        try:
            proxy = CountingProxy(server.port)
            app = write_app(logs_dir / "app.xml")
            commands = []
            for repeat in (1, many):
                commands.append(self.lumox_run(f"app-lumox-{repeat}", self.suite(
                    "app_workbook", proxy.url, app, repeat)))
                commands.append(Command(
                    f"app-robot-{repeat}", [*self.robot_app, "-m", "robot", "--output", "NONE",
                                            "--report", "NONE", "--log", "NONE", "app.robot"],
                    self.suite("robot_app", proxy.url, app, repeat), self.peer_env))
            samples, counts, logs = self._through_proxy(proxy, commands)
        finally:
            if proxy is not None:
                proxy.close()
            server.stop()
        peer = "RF + AppiumLibrary"
        rows = self._flow_rows("app login flow", peer, ("app-lumox-1", "app-robot-1"), samples,
                               counts)
        rows.append(self._steps_row("app flow steps, once more", peer, "app", samples, many))
        steps = {name: _requests_per_step(log) for name, log in logs.items()}
        for index, name in enumerate(APP_STEPS):
            mine, theirs = steps["app-lumox-1"][index], steps["app-robot-1"][index]
            rows.append(Row(f"app: {name}", "requests", Stat.of([mine]), peer,
                            Stat.of([theirs]), "<= peer", mine <= theirs))
        return rows


# How often a flow's steps run in the longer run that sets them apart from start-up.
FLOW_REPEATS = 21

# The app flow's steps as the requests tell them apart: opening the session, then each
# element keyword from its find on, then closing.
APP_STEPS = ["start", "input", "input", "tap", "text", "quit"]


def _requests_per_step(log):
    """Requests before the first find, from each find to the next, and the closing DELETE."""
    steps = [0]
    for method, path in log:
        if method == "DELETE" and path.rstrip("/").count("/") == 2:  # /session/<id>
            steps.append(0)
        elif method == "POST" and path.endswith(("/element", "/elements")):
            steps.append(0)
        steps[-1] += 1
    return steps


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _wait_for(url, seconds=30):
    deadline = time.monotonic() + seconds
    while True:
        try:
            urllib.request.urlopen(url, timeout=2).read()
            return
        except OSError:
            if time.monotonic() > deadline:
                raise RunError(f"nothing answers at {url}") from None
            time.sleep(0.1)


def _per_unit(small, big, units):
    """Per run, the cost of one more case or row: (T_big - T_small) / units."""
    return {field: Stat.of([(getattr(b, field) - getattr(a, field)) / units
                            for a, b in zip(small, big)])
            for field in ("cpu", "wall")}


def _snapshot(pythonpath):
    """A copy of an in-place build, so that a rebuild during the run cannot mix builds."""
    if not pythonpath or not (Path(pythonpath) / "lumox").is_dir():
        return pythonpath
    copy = WORK / "lumox-snapshot"
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(Path(pythonpath) / "lumox", copy / "lumox",
                    ignore=shutil.ignore_patterns("__pycache__"))
    return str(copy)


def _executable(name):
    # A venv's python must keep its own path (no resolving of the symlink).
    found = name if os.sep in name else shutil.which(name)
    if not found or not os.path.exists(found):
        sys.exit(f"no interpreter {name!r}")
    return os.path.abspath(found)


def _env(pythonpath):
    # Settings of the caller's environment would change what is measured. PYTHON* ones
    # too: PYTHONDONTWRITEBYTECODE, say, makes pytest rewrite and compile the assertions of
    # every plug-in package again on each run, which a tester's Python caches once.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("LUMOX_", "PYTEST_", "PYTHON"))}
    if pythonpath:
        env["PYTHONPATH"] = os.path.abspath(pythonpath)
    return env


def _version_of(python, env, *packages):
    code = ("import importlib.metadata as m, sys\n"
            "for p in sys.argv[1:]:\n"
            "    try: print(p, m.version(p))\n"
            "    except m.PackageNotFoundError: print(p, 'missing')\n")
    out = subprocess.run([*python, "-c", code, *packages], env=env, capture_output=True,
                         text=True, check=True).stdout
    return ", ".join(out.splitlines())


def machine(bench):
    cpuinfo = Path("/proc/cpuinfo").read_text().splitlines()
    model = next((line.split(":", 1)[1].strip() for line in cpuinfo
                  if line.startswith("model name")), "?")
    cores = sum(line.startswith("processor") for line in cpuinfo)
    where = subprocess.run(
        [*bench.lumox, "-c", "import sys, lumox; print(sys.version.split()[0], lumox.__file__)"],
        env=bench.lumox_env, capture_output=True, text=True, check=True).stdout.split()
    lines = [
        f"machine: {model}, {cores} cores, load {_load()}",
        f"python:  {where[0]} (lumox from {Path(where[1]).parent})",
        f"lumox venv:   {_version_of(bench.lumox, bench.lumox_env, 'pytest', 'httpx')}",
        f"pytest+httpx: {_version_of(bench.httpx, bench.peer_env, 'pytest', 'httpx')}",
        "tavern:       "
        + _version_of(bench.tavern, bench.peer_env, "tavern", "pytest", "requests"),
        "robot:        "
        + _version_of(bench.robot, bench.peer_env, "robotframework", "robotframework-requests",
                      "requests"),
        "robot-web:    "
        + _version_of(bench.robot_web, bench.peer_env, "robotframework",
                      "robotframework-seleniumlibrary", "selenium"),
        "robot-app:    "
        + _version_of(bench.robot_app, bench.peer_env, "robotframework",
                      "robotframework-appiumlibrary", "Appium-Python-Client"),
    ]
    return "\n".join(lines)


def _load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def _fmt(stat, unit):
    if unit in ("KiB",) and abs(stat.median) >= 100:
        digits = 0
    else:
        digits = 1 if abs(stat.median) >= 10 else 3
    return f"{stat.median:.{digits}f} ({stat.low:.{digits}f}..{stat.high:.{digits}f})"


def table(rows, quick):
    head = ["scenario", "unit", "lumox median (min..max)", "peer", "peer median (min..max)",
            "ratio", "target", "met?"]
    body = []
    for row in rows:
        other = _fmt(row.other, row.unit) if row.other else ""
        r = f"{ratio(row.lumox, row.other):.2f}x" if row.other else ""
        verdict = "" if row.met is None or quick else ("met" if row.met else "MISSED")
        body.append([row.scenario, row.unit, _fmt(row.lumox, row.unit), row.peer, other, r,
                     row.target, verdict])
    widths = [max(len(line[i]) for line in [head, *body]) for i in range(len(head))]
    lines = ["  ".join(cell.ljust(w) for cell, w in zip(line, widths)).rstrip()
             for line in [head, ["-" * w for w in widths], *body]]
    return "\n".join(lines)


def _service():
    found = importlib.util.spec_from_file_location("demo_service", ROOT / "examples" / "service.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.serve_in_thread()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int,
                        help="measured runs of each command (default 5, --quick 2)")
    parser.add_argument("--only", help="comma-separated scenarios: " + ",".join(SCENARIOS))
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    parser.add_argument("--lumox-python", default=str(ROOT / ".venv" / "bin" / "python"))
    parser.add_argument("--lumox-pythonpath", default="",
                        help="PYTHONPATH of the lumox runs, e.g. src for an in-place build")
    parser.add_argument("--venvs", default=str(WORK),
                        help="folder of the peers' virtual environments")
    parser.add_argument("--baseline-python",
                        help="the Python of an earlier build of lumox, run beside it in `yaml`")
    args = parser.parse_args(argv)
    if args.runs is None:
        args.runs = 2 if args.quick else 5
    chosen = args.only.split(",") if args.only else SCENARIOS
    unknown = set(chosen) - set(SCENARIOS)
    if unknown or args.runs < 1:
        parser.error(f"unknown scenario(s) {', '.join(sorted(unknown))}" if unknown
                     else "--runs >= 1")

    bench = Bench(args)
    print(machine(bench), flush=True)
    started = time.monotonic()
    server, bench.base = _service()
    rows, failed = [], []
    try:
        for name in SCENARIOS:
            if name in chosen:
                print(f"... {name}", flush=True)
                # A scenario whose tool fails is reported; the others still run.
                try:
                    rows += getattr(bench, name)()
                except RunError as error:
                    print(f"{name} FAILED: {error}", flush=True)
                    failed.append(name)
    finally:
        server.shutdown()
        server.server_close()
    quick_note = "quick sizes, targets not judged; " if args.quick else ""
    print(f"\n{args.runs} run(s) each, alternating; {quick_note}"
          f"service {bench.base} (examples/service.py); load at the end {_load()}; "
          f"{time.monotonic() - started:.0f} s\n")
    print(table(rows, args.quick))
    if failed:
        print(f"\nFAILED (see above): {', '.join(failed)}")
    if any(math.isnan(ratio(r.lumox, r.other)) for r in rows if r.other):
        print("\n(nan: the peer's median is 0)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
