import socket
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))

from pages_server import serve_pages  # noqa: E402
from service import serve_in_thread  # noqa: E402


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
