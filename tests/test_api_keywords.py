"""API keywords of lumox.actlib against the demo service on loopback."""

import json
import logging
import ssl

import certifi
import httpx
import pytest

from lumox import settings
from lumox.actlib import ApiKeyWord
from lumox.exchange import Exchange
from open_files import open_paths
from report_steps import report_steps_fixture  # noqa: F401  (fixture report_steps)

NO_RESPONSE = "尚未发送请求，请使用send_http关键字发送请求后再读取响应"
NOT_JSON = "响应内容不是json格式，无法筛选"


@pytest.fixture
def api_base(http_service, monkeypatch):
    """The demo service as the configured base address of new API clients."""
    monkeypatch.setenv("LUMOX_API_BASE_URL", http_service)
    settings.lumox_api.reload_settings()
    yield http_service
    monkeypatch.undo()
    settings.lumox_api.reload_settings()


@pytest.fixture
def exchanger(tmp_path):
    return Exchange(str(tmp_path / "vars.yaml"))


@pytest.fixture
def api(api_base, exchanger):
    keywords = ApiKeyWord(exchanger, {})
    yield keywords
    keywords.client.close()


def saved(api):
    return dict(api.exchanger.file)


def echo(api, method="GET"):
    """Sends the record to /api/echo and returns what the service received."""
    api._key_send_http(method, "/api/echo")
    return api.current_response.json()


class TestClient:
    def test_new_object_has_a_client_on_the_configured_base_without_redirects(self, api, api_base):
        assert isinstance(api.client, httpx.Client)
        assert str(api.client.base_url).rstrip("/") == api_base
        assert api.client.follow_redirects is False
        assert api.client.timeout == httpx.Timeout(5.0)

        api._key_send_http("GET", "/api/items")
        assert saved(api)["resp_code"] == 200

    def test_new_client_replaces_the_client_and_all_its_settings(self, api, api_base, monkeypatch):
        # Clients share the SSL context of httpx's default verification, built again when
        # the environment chooses another CA bundle.
        def ssl_context():
            return api.client._transport._pool._ssl_context
        shared = ssl_context()
        assert shared.verify_mode == ssl.CERT_REQUIRED and shared.check_hostname
        other = ApiKeyWord(api.exchanger, {}).client
        other.close()
        assert other._transport._pool._ssl_context is shared
        monkeypatch.setenv("SSL_CERT_FILE", certifi.where())
        api._key_new_client()
        assert ssl_context() is not shared

        old = api.client
        api._key_set_baseurl("http://127.0.0.1:1")
        api._key_set_headers('{"X-Old": "1"}')
        api._key_set_follow_redirects("yes")

        api._key_new_client(1.5)
        # The client is built on first use, from the settings of the moment it was opened.
        monkeypatch.setattr(settings.lumox_api, "base_url", "http://127.0.0.1:1")

        assert api.client is not old and old.is_closed
        assert str(api.client.base_url).rstrip("/") == api_base
        assert api.client.timeout == httpx.Timeout(1.5)
        assert api.client.follow_redirects is False
        assert "x-old" not in echo(api)["headers"]

    def test_transport_error_propagates_and_sets_nothing(self, api, closed_port):
        api._key_send_http("GET", "/api/items")
        api._key_set_baseurl(f"http://127.0.0.1:{closed_port}")
        api.exchanger.file.clear()

        with pytest.raises(httpx.ConnectError):
            api._key_send_http("GET", "/api/items")

        assert saved(api) == {}
        with pytest.raises(ValueError, match=NO_RESPONSE):
            api._key_save_code("c")
        # The failed request's record is gone: the next one starts empty.
        assert api._current_request is None


class TestRedirects:
    URL = "/api/redirect?to=/api/items"

    def test_not_followed_by_default(self, api):
        api._key_send_http("GET", self.URL)
        assert saved(api)["resp_code"] == 302

    @pytest.mark.parametrize("follow", ["false", "1", True])
    def test_any_true_value_follows_even_the_text_false(self, api, follow, caplog):
        caplog.set_level(logging.INFO, logger="lumox.actlib")
        api._key_set_follow_redirects(follow)
        api._key_send_http("GET", self.URL)

        assert saved(api)["resp_code"] == 200
        assert json.loads(saved(api)["resp_body"])[0]["id"] == 1
        # Both hops went through the logging hooks.
        assert [r.getMessage().strip("-") for r in caplog.records].count("Response Start") == 2

    @pytest.mark.parametrize("args", [(), ("",), (None,), (0,)])
    def test_no_argument_or_a_false_value_stops_following(self, api, args):
        api._key_set_follow_redirects(True)
        api._key_set_follow_redirects(*args)
        api._key_send_http("GET", self.URL)
        assert saved(api)["resp_code"] == 302


class TestCommonAndPerRequestFields:
    def test_set_headers_replaces_common_headers_and_add_header_lasts_one_request(self, api):
        api._key_set_headers('{"X-A": "1"}')
        api._key_set_headers('{"X-B": "2"}')
        api._key_add_header("X-C", 3)  # a number cell is sent as its text

        first = echo(api)["headers"]
        second = echo(api)["headers"]

        assert (first.get("x-a"), first["x-b"], first["x-c"]) == (None, "2", "3")
        assert second["x-b"] == "2" and "x-c" not in second
        # The defaults of the client stay.
        assert first["user-agent"].startswith("python-httpx/")

    def test_cookies_common_per_request_and_from_responses(self, api):
        api._key_set_cookies('{"common": "c"}')
        api._key_add_cookie("once", "o")
        assert echo(api)["cookies"] == {"common": "c", "once": "o"}
        assert echo(api)["cookies"] == {"common": "c"}

        # The client keeps what the service sets, until set_cookies replaces the jar.
        api._key_send_http("GET", "/api/cookies/set?k=v")
        api._key_send_http("GET", "/api/cookies")
        assert api.current_response.json()["cookies"] == {"common": "c", "k": "v"}
        api._key_set_cookies('{"fresh": "f"}')
        api._key_send_http("GET", "/api/cookies")
        assert api.current_response.json()["cookies"] == {"fresh": "f"}

    def test_query_parameters_common_and_per_request(self, api):
        api._key_set_params('{"page": 1, "tag": "旧"}')
        api._key_set_params('{"page": 2}')
        api._key_add_query("q", "苹果")
        assert echo(api)["query"] == {"page": "2", "q": "苹果"}
        assert echo(api)["query"] == {"page": "2"}

    def test_set_form_replaces_added_fields_and_add_form_extends_set_form(self, api):
        api._key_add_form("a", "1")
        api._key_set_form('{"b": "2"}')
        assert echo(api, "POST")["form"] == {"b": "2"}

        api._key_set_form('{"b": "2"}')
        api._key_add_form("c", 3)
        received = echo(api, "POST")
        assert received["form"] == {"b": "2", "c": "3"}
        assert received["headers"]["content-type"] == "application/x-www-form-urlencoded"

    @pytest.mark.parametrize(
        "keyword", ["set_headers", "set_cookies", "set_params", "set_json", "set_form"]
    )
    def test_malformed_json_text_fails_and_changes_nothing(self, api, keyword):
        api._key_set_headers('{"X-Keep": "k"}')
        api._key_send_http("GET", "/api/items")

        with pytest.raises(json.JSONDecodeError):
            getattr(api, "_key_" + keyword)('{"unclosed": ')

        assert api.client.headers["x-keep"] == "k"
        assert api._current_request is None
        api._key_save_code("still_held")
        assert saved(api)["still_held"] == 200


class TestJsonBody:
    def test_requests_without_set_json_carry_no_json_body(self, api):
        received = echo(api)
        assert received["body"] == ""
        assert "content-type" not in received["headers"]

        api._key_add_header("X-Only", "header")
        received = echo(api, "DELETE")
        assert received["body"] == "" and "content-type" not in received["headers"]

    def test_set_json_sends_its_value_for_one_request_even_when_empty(self, api):
        api._key_set_json("{}")
        received = echo(api, "POST")
        assert received["json"] == {}
        assert received["headers"]["content-type"] == "application/json"

        api._key_set_json('[1, "中", {"k": null}]')
        assert echo(api, "PUT")["json"] == [1, "中", {"k": None}]

        assert echo(api, "POST")["body"] == ""

    def test_login_flow_with_saved_token(self, api):
        api._key_set_json('{"username": "alice", "password": "secret"}')
        api._key_send_http("POST", "/api/login")
        api._key_save_jsonpath("token", "$.token")
        token = json.loads(saved(api)["token"])[0]

        api._key_add_header("Authorization", "Bearer " + token)
        api._key_send_http("GET", "/api/profile")
        assert api.current_response.json()["name"] == "alice"


class TestUploads:
    def test_upload_sends_the_file_and_closes_it(self, api, tmp_path):
        report = tmp_path / "周报.txt"
        report.write_bytes(b"weekly numbers")
        api._key_add_file("doc", str(report))
        api._key_add_form("title", "周报")
        upload = api.current_request.files[0][1]
        assert str(report) in open_paths()

        api._key_send_http("POST", "/api/upload")

        assert api.current_response.json() == {
            "code": 0,
            "files": {"doc": {"filename": "周报.txt", "size": 14}},
            "fields": {"title": "周报"},
        }
        assert upload.closed
        assert str(report) not in open_paths()

    def test_failed_send_closes_the_files_too(self, api, tmp_path, closed_port):
        report = tmp_path / "r.txt"
        report.write_bytes(b"x")
        api._key_set_baseurl(f"http://127.0.0.1:{closed_port}")
        api._key_add_file("doc", str(report))
        upload = api.current_request.files[0][1]

        with pytest.raises(httpx.ConnectError):
            api._key_send_http("POST", "/api/upload")
        assert upload.closed

    def test_unopenable_file_fails_at_add_file_and_keeps_the_response(self, api, tmp_path):
        api._key_send_http("GET", "/api/items")
        with pytest.raises(FileNotFoundError):
            api._key_add_file("doc", str(tmp_path / "missing.txt"))
        api._key_save_code("code")
        assert saved(api)["code"] == 200

    def test_a_request_that_cannot_be_built_keeps_its_record_and_files(self, api, tmp_path):
        report = tmp_path / "r.txt"
        report.write_bytes(b"abc")
        api._key_add_file("doc", str(report))
        api.current_request.headers["X-Number"] = 5  # httpx takes text header values only
        record = api.current_request

        with pytest.raises(TypeError):
            api._key_send_http("POST", "/api/upload")

        assert api.current_request is record
        assert not record.files[0][1].closed
        record.headers["X-Number"] = "5"
        api._key_send_http("POST", "/api/upload")
        assert api.current_response.json()["files"]["doc"]["size"] == 3
        assert record.files[0][1].closed


class TestSavedValues:
    def test_every_save_keyword_needs_a_response(self, api):
        for keyword in ("save_code", "save_headers", "save_body"):
            with pytest.raises(ValueError, match=NO_RESPONSE):
                getattr(api, "_key_" + keyword)("v")
        with pytest.raises(ValueError, match=NO_RESPONSE):
            api._key_save_jsonpath("v", "$.a")
        assert saved(api) == {}

    def test_starting_the_next_request_forgets_the_response(self, api):
        api._key_add_header("X-A", "1")
        api._key_send_http("GET", "/api/items")
        api._key_add_header("X-B", "2")
        with pytest.raises(ValueError, match=NO_RESPONSE):
            api._key_save_code("code")

    def test_send_saves_code_and_body_and_save_keywords_store_their_parts(self, api):
        api._key_send_http("GET", "/api/status/404")
        assert saved(api) == {"resp_code": 404, "resp_body": '{"status": 404}'}

        api._key_send_http("GET", "/api/text")
        api._key_save_code("code")
        api._key_save_body("body")
        assert saved(api)["code"] == 200
        assert saved(api)["body"] == "order 1001 shipped; order 1002 pending"
        with pytest.raises(ValueError, match=NOT_JSON) as failure:
            api._key_save_jsonpath("v", "$.a")
        assert isinstance(failure.value.__cause__, json.JSONDecodeError)
        # Bytes in no Unicode encoding are no JSON either.
        api._current_response = httpx.Response(200, content=b"\x80{}")
        with pytest.raises(ValueError, match=NOT_JSON):
            api._key_save_jsonpath("v", "$.a")
        assert "v" not in saved(api)

    def test_save_headers_writes_one_json_object_in_response_order(self, api):
        api._key_send_http("GET", "/api/cookies/set?a=1&b=2")
        api._key_save_headers("headers")
        text = saved(api)["headers"]

        headers = json.loads(text)
        assert list(headers) == ["server", "date", "content-type", "set-cookie", "content-length"]
        # A repeated header is written once, its values joined as httpx joins them.
        assert headers["set-cookie"] == "a=1; Path=/, b=2; Path=/"
        assert text.startswith('{"server": "lumox-demo/1.0')

    @pytest.mark.parametrize(
        "expr, stored",
        [
            ("$..name", '["\\u82f9\\u679c", "banana"]'),
            ("$[0].id", "[1]"),
            ("$[?(@.price < 4)]", '[{"id": 2, "name": "banana", "price": 3}]'),
            ("$.nothing", "false"),
        ],
    )
    def test_save_jsonpath_stores_json_text_of_all_matches(self, api, expr, stored):
        api._key_send_http("GET", "/api/items")
        api._key_save_jsonpath("v", expr)
        assert saved(api)["v"] == stored

    def test_save_jsonpath_with_an_index_stores_one_match_as_it_is(self, api):
        # Without it a token was saved as '["tok"]' and sent as Bearer ["tok"].
        api._key_send_http("GET", "/api/items")
        for index, stored in [(0, "苹果"), ("-1", "banana"), (1.0, "banana"), ("", None)]:
            api._key_save_jsonpath("v", "$..name", index)
            assert saved(api)["v"] == (stored or '["\\u82f9\\u679c", "banana"]')
        api._key_save_jsonpath("v", "$[0].id", 0)
        assert saved(api)["v"] == 1
        for index, error, message in [
                (2, IndexError, "save_jsonpath: index 2 is past the 2 match(es) of '$..name' "
                                "(indexes start at 0, -1 is the last)"),
                ("first", ValueError, "save_jsonpath: index must be a whole number such as 0 or "
                                      "-1, not 'first'"),
                (True, ValueError, "save_jsonpath: index must be a whole number")]:
            with pytest.raises(error) as failure:
                api._key_save_jsonpath("v", "$..name", index)
            assert str(failure.value).startswith(message)
        with pytest.raises(IndexError, match="past the 0 match"):
            api._key_save_jsonpath("v", "$.nothing", 0)


class TestKeywordCalls:
    def test_extra_arguments_of_workbook_rows_are_ignored(self, api):
        api._key_add_query("q", "1", "trailing cell", None)
        api.key_send_http("GET", "/api/echo", "extra", note="named")
        assert api.current_response.json()["query"] == {"q": "1"}

    def test_each_keyword_is_one_report_step(self, api, report_steps):
        api._key_set_json('{"a": 1}')
        api._key_send_http("POST", "/api/echo")
        api._key_send_http("GET", "/api/text")
        with pytest.raises(ValueError):
            api._key_save_jsonpath("v", "$.a")

        assert report_steps.summary() == [
            ("设置json参数", True),
            ("发送接口请求", True),
            ("保存[状态码]", True),
            ("设置变量", True),
            ("保存[响应正文]", True),
            ("设置变量", True),
            ("发送接口请求", True),
            ("保存[状态码]", True),
            ("设置变量", True),
            ("保存[响应正文]", True),
            ("设置变量", True),
            ("保存[响应值]", False),
        ]


class TestTrafficLog:
    @staticmethod
    def lines(caplog):
        return [r.getMessage() for r in caplog.records if r.name == "lumox.actlib"]

    def test_request_and_response_blocks(self, api, caplog):
        caplog.set_level(logging.INFO, logger="lumox.actlib")
        api._key_set_json('{"name": "苹果"}')
        api._key_send_http("POST", "/api/echo")
        response = api.current_response

        assert self.lines(caplog) == [
            "-" * 33 + "Rqeuest Start" + "-" * 34,
            "Method: POST",
            str(response.request.headers),
            "Body: b'{\"name\":\"\\xe8\\x8b\\xb9\\xe6\\x9e\\x9c\"}'",
            "-" * 34 + "Rqeuest End" + "-" * 35,
            "-" * 33 + "Response Start" + "-" * 33,
            "Status Code: 200",
            str(response.headers),
            "Body: " + repr(response.content),
            "-" * 34 + "Response End" + "-" * 34,
        ]
        assert "'content-type': 'application/json'" in self.lines(caplog)[2]
        assert all(len(line) == 80 for line in self.lines(caplog)[::5][:2])
        assert {r.levelno for r in caplog.records if r.name == "lumox.actlib"} == {logging.INFO}

    def test_hooks_need_no_keyword_object(self, caplog):
        caplog.set_level(logging.INFO, logger="lumox.actlib")
        request = httpx.Request("PUT", "http://127.0.0.1/x", content=b"it's\x00")
        ApiKeyWord.log_request(request)
        response = httpx.Response(204, headers={"X-Multi": "a"}, request=request)
        ApiKeyWord.log_response(response)

        lines = self.lines(caplog)
        assert lines[1] == "Method: PUT"
        assert lines[3] == "Body: b\"it's\\x00\""
        assert lines[6:9] == ["Status Code: 204", "Headers({'x-multi': 'a'})", "Body: b''"]

    def test_upload_body_is_logged_and_still_sent(self, api, tmp_path, caplog):
        caplog.set_level(logging.INFO, logger="lumox.actlib")
        report = tmp_path / "r.txt"
        report.write_bytes(b"line one\nline two")
        api._key_add_file("doc", str(report))
        api._key_send_http("POST", "/api/upload")

        body = self.lines(caplog)[3]
        assert body.startswith("Body: b'--") and "line one\\nline two" in body
        assert api.current_response.json()["files"]["doc"]["size"] == 17
