"""The keyword libraries of lumox.actlib: the class tree, library choice by type name,
keyword lists and documentation, and testers' own keyword classes."""

import inspect
import logging
import os
import subprocess
import sys

import httpx
import pytest

from lumox.actlib import ApiKeyWord, AppKeyWord, KeyWord, WebKeyWord, get_class_by_type
from lumox.actlib_utils import BaseKeyWord
from lumox.exchange import Exchange

API_KEYWORDS = (
    "add_cookie", "add_file", "add_form", "add_header", "add_query", "new_client",
    "save_body", "save_code", "save_headers", "save_jsonpath", "send_http", "set_baseurl",
    "set_cookies", "set_follow_redirects", "set_form", "set_headers", "set_json", "set_params",
)


@pytest.fixture
def exchanger(tmp_path):
    return Exchange(str(tmp_path / "vars.yaml"))


@pytest.fixture
def keyword_object(exchanger):
    """Creates keyword objects and closes their HTTP clients afterwards."""
    made = []

    def make(cls, *args):
        obj = cls(exchanger, {}, *args)
        made.append(obj)
        return obj

    yield make
    for obj in made:
        if isinstance(obj.client, httpx.Client):
            obj.client.close()


class TestLibraryChoice:
    @pytest.mark.parametrize(
        "kw_type, cls",
        [("API", ApiKeyWord), ("api", ApiKeyWord), ("Web", WebKeyWord), ("APP", AppKeyWord),
         ("all", KeyWord), ("ALL", KeyWord), ("", KeyWord), ("browser", KeyWord)],
    )
    def test_type_names_in_any_case(self, kw_type, cls):
        assert get_class_by_type(kw_type) is cls
        assert get_class_by_type(kw_type=kw_type) is cls

    def test_no_argument_gives_all_libraries(self):
        assert get_class_by_type() is KeyWord

    @pytest.mark.parametrize("value, given", [(5, "int"), (None, "NoneType"), (b"api", "bytes")])
    def test_type_name_must_be_text(self, value, given):
        with pytest.raises(TypeError) as failure:
            get_class_by_type(value)
        assert str(failure.value) == (
            f"get_class_by_type() argument 'kw_type' must be str, not {given}")


class TestClassTree:
    def test_bases_and_class_level_fields(self):
        assert WebKeyWord.__bases__ == (BaseKeyWord,)
        assert AppKeyWord.__bases__ == (BaseKeyWord,)
        assert ApiKeyWord.__bases__ == (BaseKeyWord,)
        assert KeyWord.__bases__ == (WebKeyWord, AppKeyWord, ApiKeyWord)
        assert AppKeyWord._ac is None
        assert ApiKeyWord._current_request is None and ApiKeyWord._current_response is None
        assert all(cls.__module__ == "lumox.actlib" for cls in (WebKeyWord, KeyWord))

    def test_keyword_is_built_by_the_api_constructor(self, keyword_object, exchanger):
        assert KeyWord.__init__ is ApiKeyWord.__init__
        obj = keyword_object(KeyWord)
        assert obj.exchanger is exchanger and obj.usefixtures == {}
        assert isinstance(obj.client, httpx.Client)
        assert obj.driver is None and obj._ac is None

    def test_web_and_app_objects_open_no_http_client(self, exchanger):
        assert WebKeyWord(exchanger, {}).client is None
        assert AppKeyWord(exchanger, {}).client is None

    def test_constructor_arguments_go_to_the_base(self, exchanger):
        with pytest.raises(TypeError, match="usefixtures"):
            ApiKeyWord(exchanger, ["chrome"])
        obj = ApiKeyWord(exchanger=exchanger, usefixtures={"x": 1})
        obj.client.close()
        assert obj.usefixtures == {"x": 1}


class TestKeywordLists:
    def test_all_libraries_list_the_api_and_shared_keywords(self):
        assert ApiKeyWord.all_keyword() == tuple(sorted(API_KEYWORDS + ("assert", "set_driver")))
        keywords = KeyWord.all_keyword()
        assert set(ApiKeyWord.all_keyword()) <= set(keywords)
        assert list(keywords) == sorted(keywords)

    def test_keyword_signatures_show_declared_parameters(self):
        assert str(inspect.signature(ApiKeyWord.key_send_http)) == (
            "(self, method, url, *args, **kwargs)")
        assert str(inspect.signature(ApiKeyWord.key_new_client)) == (
            "(self, timeout=5.0, *args, **kwargs)")
        assert str(inspect.signature(ApiKeyWord.key_set_follow_redirects)) == (
            "(self, follow=False, *args, **kwargs)")

    def test_printed_documentation_of_the_api_keywords(self, capsys):
        ApiKeyWord.print_key_doc()
        out = capsys.readouterr().out
        header = "关键字及其参数\n" + "=" * 20 + "\n"
        assert out.startswith(header)
        blocks = out.removeprefix(header).split("\n" + "-" * 20 + "\n")
        assert blocks[-1] == ""
        assert [block.splitlines()[0] for block in blocks[:-1]] == [
            "关键字：" + name for name in ApiKeyWord.all_keyword()
        ]
        assert "关键字：new_client\n启动接口客户端\n:param timeout: 请求默认超时时间" in out
        assert (
            "关键字：send_http\n发送接口请求，自动使用set_*参数及add_*参数\n"
            ":param method: 请求方法\n:param url: 接口地址" in out
        )
        assert (
            "关键字：set_json\n添加一个json参数，只对本次请求有效，不可与add_form同时使用\n"
            ":param _json: json字符串" in out
        )
        assert (
            "关键字：save_jsonpath\n根据JsonPath，从响应正文中筛选数据进行保存\n"
            ":param var_name: 要保存的变量名\n:param value: JsonPath表达式" in out
        )
        assert ":param params: json格式的查询参数（位于URL中的GET参数）" in out
        assert "读取关键字文档出错" not in out


class MyKeyWord(KeyWord):
    """A tester's own library on top of all the others."""

    def key_login(self, user, password="secret"):
        """关键字：login
        登录演示服务
        :param user: 用户名
        :param password: 密码
        """
        self.key_set_json(f'{{"username": "{user}", "password": "{password}"}}')
        self.key_send_http("POST", "/api/login")
        self.key_save_jsonpath("token", "$.token")


class TestTestersOwnLibrary:
    def test_own_keyword_is_listed_dispatched_and_documented(
        self, http_service, keyword_object, caplog, capsys
    ):
        caplog.set_level(logging.INFO)
        assert "login" in MyKeyWord.all_keyword()
        assert set(KeyWord.all_keyword()) < set(MyKeyWord.all_keyword())
        assert "login" not in KeyWord.all_keyword()

        kw = keyword_object(MyKeyWord)
        kw._key_set_baseurl(http_service)
        assert kw._key_login("alice") is None
        assert kw.exchanger.file["token"] == '["tok-alice"]'
        messages = [r.getMessage() for r in caplog.records]
        assert "正在执行关键字: 【login】('alice',)" in messages
        assert messages[-1] == "关键字执行完毕 "

        MyKeyWord.print_key_doc()
        out = capsys.readouterr().out
        assert "关键字：login\n        登录演示服务\n        :param user: 用户名" in out

    def test_own_class_can_replace_an_api_keyword(self, http_service, keyword_object):
        class Quiet(ApiKeyWord):
            def key_save_body(self, var_name, *args, **kwargs):
                """关键字：save_body\n只保存长度"""
                self.set_vars(var_name, len(self.current_response.content))

        kw = keyword_object(Quiet)
        kw._key_set_baseurl(http_service)
        kw._key_send_http("GET", "/api/text")
        # send_http's own save of the body goes through the replaced keyword.
        assert kw.exchanger.file["resp_body"] == len("order 1001 shipped; order 1002 pending")


def test_settings_defaults_are_fixed_when_the_module_loads(tmp_path):
    env = {k: v for k, v in os.environ.items() if not k.startswith("LUMOX_")}
    env.update(LUMOX_UI_FORCE_CLICK="true", LUMOX_UI_DRIVER_TYPE="firefox",
               LUMOX_UI_SELENIUM_GRID="http://127.0.0.1:4444/wd/hub")
    script = (
        "import os\n"
        "from lumox import actlib, settings\n"
        "print(actlib.DEFAULT_FORCE_CLICK, actlib.DEFAULT_BROWSER, actlib.DEFAULT_HUB)\n"
        "os.environ['LUMOX_UI_FORCE_CLICK'] = 'false'\n"
        "settings.lumox_ui.reload_settings()\n"
        "print(settings.lumox_ui.force_click, actlib.DEFAULT_FORCE_CLICK)\n"
    )
    result = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    assert result.stdout.splitlines() == [
        "True firefox http://127.0.0.1:4444/wd/hub",
        "False True",
    ]
