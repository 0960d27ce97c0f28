"""HTTPClient: the run's httpx client that logs every request and response."""

import gc
import logging
import weakref

import httpx
import pytest

from lumox.steps import HTTPClient

REQUEST = ">>>    "
RESPONSE = "   <<< "


def http_lines(caplog):
    return [r.getMessage() for r in caplog.records if r.name == "lumox.http"]


@pytest.fixture
def http_log(caplog):
    caplog.set_level(logging.INFO, logger="lumox.http")
    return caplog


@pytest.fixture
def client(http_service):
    with HTTPClient(base_url=http_service) as client:
        yield client


class TestTrafficLog:
    def test_get_logs_three_request_and_three_response_lines(self, client, http_log, http_service):
        response = client.get("/api/items", params={"q": "苹果"})

        assert http_lines(http_log) == [
            f"{REQUEST}GET {http_service}/api/items?q=%E8%8B%B9%E6%9E%9C",
            f"{REQUEST}{response.request.headers}",
            f"{REQUEST}b''",
            f"{RESPONSE}200",
            f"{RESPONSE}{response.headers}",
            f"{RESPONSE}{response.content!r}",
        ]
        assert "'host': '127.0.0.1:" in http_lines(http_log)[1]
        assert "application/json" in http_lines(http_log)[4]
        assert all(r.levelno == logging.INFO for r in http_log.records)
        assert response.json()[0]["name"] == "苹果"

    def test_json_and_multipart_bodies_are_logged_and_still_sent(self, client, http_log, tmp_path):
        login = client.post("/api/login", json={"username": "alice", "password": "secret"})
        assert login.json()["token"] == "tok-alice"
        assert http_lines(http_log)[2] == REQUEST + repr(login.request.content)
        assert b'"username":"alice"' in login.request.content

        http_log.clear()
        report = tmp_path / "report.txt"
        report.write_bytes(b"weekly numbers")
        with report.open("rb") as upload:
            sent = client.post("/api/upload", data={"title": "周报"}, files={"doc": upload})
        body_line = http_lines(http_log)[2]
        assert body_line.startswith(REQUEST + "b'--")
        assert "weekly numbers" in body_line
        assert sent.json()["files"] == {"doc": {"filename": "report.txt", "size": 14}}
        assert sent.json()["fields"] == {"title": "周报"}

    def test_responses_reach_the_caller_fully_read(self, client, http_log):
        request = client.build_request("GET", "/api/text")
        response = client.send(request, stream=True)
        # No ResponseNotRead: the response hook has read the body already.
        assert response.content == b"order 1001 shipped; order 1002 pending"
        assert response.is_closed
        assert http_lines(http_log)[-1] == RESPONSE + repr(response.content)

    def test_refused_connection_raises_after_logging_the_request(self, http_log, closed_port):
        with HTTPClient(base_url=f"http://127.0.0.1:{closed_port}") as client:
            with pytest.raises(httpx.ConnectError):
                client.get("/api/items")
        assert http_lines(http_log) == [
            f"{REQUEST}GET http://127.0.0.1:{closed_port}/api/items",
            http_lines(http_log)[1],
            f"{REQUEST}b''",
        ]


class TestConstruction:
    def test_own_response_hooks_replace_response_logging_only(self, http_service, http_log):
        seen = []
        with HTTPClient(base_url=http_service, event_hooks={"response": [seen.append]}) as client:
            response = client.get("/api/items")
        assert seen == [response]
        lines = http_lines(http_log)
        assert len(lines) == 3
        assert all(line.startswith(REQUEST) for line in lines)

    def test_own_request_hooks_replace_request_logging_only(self, http_service, http_log):
        seen = []
        with HTTPClient(base_url=http_service, event_hooks={"request": [seen.append]}) as client:
            response = client.get("/api/items")
        assert seen == [response.request]
        lines = http_lines(http_log)
        assert len(lines) == 3
        assert all(line.startswith(RESPONSE) for line in lines)

    def test_no_hooks_given_keeps_both_logs(self, http_service, http_log):
        with HTTPClient(base_url=http_service, event_hooks=None) as client:
            client.get("/api/items")
        assert len(http_lines(http_log)) == 6

    def test_other_client_arguments_reach_httpx(self, http_service):
        with HTTPClient(base_url=http_service, headers={"X-Case": "c1"}, timeout=7) as client:
            echoed = client.get("/api/echo").json()
            assert client.timeout == httpx.Timeout(7)
        assert echoed["headers"]["x-case"] == "c1"

    def test_only_keyword_arguments_are_accepted(self, http_service):
        with pytest.raises(TypeError):
            HTTPClient(http_service)

    def test_is_an_httpx_client_that_testers_can_subclass(self, http_service, http_log):
        class TracingClient(HTTPClient):
            def __init__(self, **kwargs):
                super().__init__(**kwargs)
                self.trace = []

            def log_request(self, request):
                self.trace.append(request.url.path)
                super().log_request(request)

        with TracingClient(base_url=http_service) as client:
            client.get("/api/items")
        assert isinstance(client, httpx.Client)
        assert client.trace == ["/api/items"]
        assert len(http_lines(http_log)) == 6

    def test_closed_clients_are_collected(self, http_service):
        client = HTTPClient(base_url=http_service)
        client.get("/api/items")
        client.close()
        alive = weakref.ref(client)
        del client
        gc.collect()
        assert alive() is None
