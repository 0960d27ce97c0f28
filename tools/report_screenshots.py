"""Takes the screenshots of the HTML report that the documentation shows: the overview page
and one case opened with its steps and attachments (the first failed or broken case, else the
first case), written as OUT_PREFIX-overview.png and OUT_PREFIX-case.png.

``make docs`` runs it on the demo run's report:
``python3 tools/report_screenshots.py examples/report docs/images/report``. The report is
served on loopback, as Allure's page does not work from file://, and opened in Debian's
Chromium, headless, through selenium.
"""

import functools
import json
import sys
import threading
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WIDTH, HEIGHT = 1400, 900
TALLEST = 2000
TIMEOUT = 30
# The charts of the overview draw themselves in (for 750 ms): their shapes, to see them stop.
CHART_SHAPES = """return [...document.querySelectorAll('.chart__svg path, .chart__svg rect')]
    .map(e => [e.getAttribute('d'), e.getAttribute('y'), e.getAttribute('height')]).join()"""
# Collapsed steps (a stage too) with a failed or broken step in them or failed themselves.
FAILED_STEPS = ".step:not(.step_expanded):has(.status-icon_status_failed, " \
    ".status-icon_status_broken) > .step__title_hasContent"
FIRST_STEP = ".step__title_stage + .step__content > .step > .step__title_hasContent"
# The attachments of the opened steps themselves, not of their sub-steps nor the case's own.
ATTACHMENTS = ".step_expanded:not(:has(> .step__title_stage)) > .step__content > div > " \
    ".attachment-row"
ATTACHMENTS_SHOWN = """return [...document.querySelectorAll('.attachment-row_selected + div')]
    .every(e => e.querySelector('.attachment-preview')
        && [...e.querySelectorAll('img')].every(img => img.complete))"""
HIDDEN_HEIGHT = "return arguments[0].scrollHeight - arguments[0].clientHeight"


class QuietHandler(SimpleHTTPRequestHandler):
    def log_message(self, format, *args):  # no line on stderr per file served
        pass


def case_path(report):
    """The report's address of the first failed or broken case, else of the first case."""
    suites = json.loads((report / "data" / "suites.json").read_text(encoding="utf-8"))
    cases, nodes = [], [suites]
    while nodes:  # depth first, in the report's order
        node = nodes.pop(0)
        if "children" in node:
            nodes[:0] = node["children"]
        else:
            cases.append(node)
    if not cases:
        sys.exit(f"no test case in {report}")
    case = next((c for c in cases if c["status"] in ("failed", "broken")), cases[0])
    return f"#suites/{case['parentUid']}/{case['uid']}"


def unchanged(script):
    """A wait condition: what the script returns is there and the same as at the last poll."""
    last = []

    def condition(driver):
        now = driver.execute_script(script)
        same = bool(now) and last == [now]
        last[:] = [now]
        return same

    return condition


def main(report_dir, out_prefix):
    report = Path(report_dir)
    if not (report / "index.html").is_file():
        sys.exit(f"no HTML report in {report_dir}: run make demo first")
    out = Path(out_prefix)
    out.parent.mkdir(parents=True, exist_ok=True)
    handler = functools.partial(QuietHandler, directory=str(report))
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/index.html"
    options = Options()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", f"--window-size={WIDTH},{HEIGHT}",
                     "--hide-scrollbars",
                     # The page also loads Google's analytics: only loopback is resolved.
                     "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"):
        options.add_argument(argument)
    driver = None
    try:
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        wait = WebDriverWait(driver, TIMEOUT, poll_frequency=0.25)
        driver.get(url)
        wait.until(unchanged(CHART_SHAPES))
        driver.save_screenshot(f"{out}-overview.png")

        driver.get(url + case_path(report))
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, ".test-result-overview__after"))
        # In the page's order, so that a step opens before the steps in it are clicked.
        titles = driver.find_elements(By.CSS_SELECTOR, FAILED_STEPS)
        for title in titles or driver.find_elements(By.CSS_SELECTOR, FIRST_STEP)[:1]:
            title.click()
        for row in driver.find_elements(By.CSS_SELECTOR, ATTACHMENTS):
            row.click()
        wait.until(lambda d: d.execute_script(ATTACHMENTS_SHOWN))
        # The case's pane scrolls: the window grows to show all of it, within reason.
        pane = driver.find_element(By.CSS_SELECTOR, ".side-by-side__right")
        hidden = driver.execute_script(HIDDEN_HEIGHT, pane)
        driver.set_window_size(WIDTH, min(HEIGHT + hidden, TALLEST))
        driver.execute_script("arguments[0].scrollTop = 0", pane)
        driver.save_screenshot(f"{out}-case.png")
    finally:
        if driver is not None:
            driver.quit()
        server.shutdown()
        server.server_close()
    print(f"wrote {out}-overview.png and {out}-case.png")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: python3 tools/report_screenshots.py REPORT_DIR OUT_PREFIX")
    main(*sys.argv[1:])
