import socket
import subprocess
import sys
import time
from pathlib import Path

# lumox imports Jinja2 and httpx (which imports httpcore) on first use and keeps what it makes
# with them for the rest of the process: the template environment with its compiled
# templates, the run-wide HTTP client, and httpx's own table of httpcore errors. A pytester
# run in this process removes every module first imported during it when it ends, so an
# object made in one such run meets fresh copies of those modules later: Jinja2 no longer
# recognises its own "missing" marker (an undefined variable renders as the text "missing"
# instead of failing), and a refused connection escapes as httpcore.ConnectError instead of
# httpx.ConnectError. Imported here, before any run, they are the same modules throughout.
import httpcore  # noqa: F401
import httpx  # noqa: F401
import jinja2.debug  # noqa: F401  (imported by Jinja2 when a template fails)
import jinja2.sandbox  # noqa: F401
import pytest

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))

from lumox import templates  # noqa: E402
from pages_server import serve_pages  # noqa: E402
from service import serve_in_thread  # noqa: E402


@pytest.fixture(autouse=True)
def restore_run_variables():
    """The run's variables (lumox.templates.env_globals) are process-wide, and steps run
    in a test put their extractions there: every test leaves them as it found them."""
    saved = dict(templates.env_globals)
    yield
    templates.env_globals.clear()
    templates.env_globals.update(saved)


@pytest.fixture(scope="session")
def http_service():
    """Base URL of the demo HTTP service, running on loopback for the whole session."""
    server, base_url = serve_in_thread()
    yield base_url
    server.shutdown()
    server.server_close()


@pytest.fixture
def closed_port():
    """A loopback port nobody listens on: connections are refused."""
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


@pytest.fixture(scope="session")
def test_pages():
    """Base URL of the static pages under tests/pages, served on loopback for the session."""
    server, base_url = serve_pages()
    yield base_url
    server.shutdown()
    server.server_close()


def wait_until_listening(port, attempts=100):
    """A started server takes a moment before it accepts connections."""
    for _ in range(attempts):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise AssertionError(f"nothing listens on port {port}")


@pytest.fixture
def webdriver_hub(closed_port):
    """Address of a W3C WebDriver endpoint on loopback: a chromedriver of its own, which
    speaks the protocol of a Selenium Grid hub. Stopped when the test ends."""
    hub = subprocess.Popen(["/usr/bin/chromedriver", f"--port={closed_port}"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until_listening(closed_port)
        yield f"http://127.0.0.1:{closed_port}"
    finally:
        hub.terminate()
        hub.wait()



@pytest.fixture(scope="module")
def browser():
    """One headless browser session for the tests of a module."""
    from lumox.webdriver import get_webdriver

    driver = get_webdriver()
    yield driver
    driver.quit()


@pytest.fixture
def browser_keywords(browser, tmp_path):
    """Makes a keyword object of a class that holds the module's browser through set_driver,
    with an element wait of `timeout` seconds."""
    from selenium.webdriver.support.wait import WebDriverWait

    from lumox.exchange import Exchange

    def make(keyword_class, timeout):
        kw = keyword_class(Exchange(str(tmp_path / "vars.yaml")), {"chrome": browser})
        kw._key_set_driver("chrome")
        kw.wait = WebDriverWait(browser, timeout, 0.1)
        return kw

    return make


@pytest.fixture
def wide_terminal(monkeypatch):
    """Summary lines are cut at the terminal's width; suites that check them whole use it."""
    monkeypatch.setenv("COLUMNS", "200")


@pytest.fixture(scope="session")
def appium_server(tmp_path_factory):
    """An Appium server on loopback for the whole test session (tests/appium_server.py):
    the fake driver with our lumox-emulator plug-in. Its log is appium.log in the fixture's
    temporary folder (`appium_server.log_path`). Without Node.js or `npm ci` the tests using
    it fail, saying so."""
    from appium_server import AppiumNotInstalled, AppiumServer

    server = AppiumServer(tmp_path_factory.mktemp("appium"))
    try:
        server.start()
    except AppiumNotInstalled as missing:
        pytest.fail(str(missing), pytrace=False)
    try:
        yield server
    finally:
        server.stop()
