"""Keyword engine core without a browser: dispatch, keyword list and documentation, the
shared keywords, the validator, the request record and the touch action chains."""

import gc
import inspect
import json
import logging
import re
import types
import weakref
from pathlib import Path

import pytest
from jsonschema.exceptions import ValidationError
from selenium.webdriver.remote.webelement import WebElement

from lumox.actlib_utils import BaseKeyWord, LumoxLocator, MockRequest, MyActionChains, Validator
from lumox.exchange import Exchange
from report_steps import report_steps_fixture  # noqa: F401  (fixture report_steps)

LOGGER = "lumox.actlib_utils"


class MyKeyWord(BaseKeyWord):
    """A tester's own library: keywords are plain Python methods."""

    def key_login(self, user, password="secret"):
        """关键字：login\n登录系统\n:param user: 用户名"""
        return f"{user}:{password}"

    def key_ping(self):
        """关键字：ping"""
        return "pong"

    def key_undocumented(self):
        pass

    key_not_a_keyword = "just text"


class OtherKeyWord(BaseKeyWord):
    def key_logout(self):
        """关键字：logout"""


@pytest.fixture
def exchanger(tmp_path):
    return Exchange(str(tmp_path / "vars.yaml"))


@pytest.fixture
def kw(exchanger):
    return MyKeyWord(exchanger, {})


@pytest.fixture
def log(caplog):
    """The module's log lines (message only), from INFO up."""
    caplog.set_level(logging.INFO, logger=LOGGER)
    return lambda: [r.getMessage() for r in caplog.records if r.name == LOGGER]


@pytest.fixture
def fresh_classes():
    """Keyword classes nobody has asked for their keyword list yet."""

    class Base(BaseKeyWord):
        pass

    class Derived(Base):
        def key_login(self):
            """关键字：login"""

    return Base, Derived


class TestDispatch:
    def test_keyword_call_is_logged_around_the_keyword(self, kw, log, report_steps):
        assert kw._key_assert(1, "equal", 1) is None
        assert log()[-4:] == [
            "正在执行关键字: 【assert】(1, 'equal', 1)",
            "正在断言 value=1, assert_name='equal', actual_value=1",
            "断言通过",
            "关键字执行完毕 ",
        ]
        assert report_steps.summary() == [("执行断言", True)]

    def test_argument_tuple_text_form(self, kw, log):
        assert kw._key_login("bob") == "bob:secret"
        assert kw._key_ping() == "pong"
        assert kw._key_login("张三", 'it\'s "x"') == "张三:it's \"x\""
        starts = [line for line in log() if line.startswith("正在执行关键字")]
        assert starts == [
            "正在执行关键字: 【login】('bob',)",
            "正在执行关键字: 【ping】()",
            "正在执行关键字: 【login】('张三', 'it\\'s \"x\"')",
        ]

    def test_failing_keyword_propagates_without_end_line(self, kw, log, report_steps):
        with pytest.raises(AssertionError):
            kw._key_assert("1", "equal", 1)
        assert "关键字执行完毕 " not in log()
        assert report_steps.summary() == [("执行断言", False)]

    @pytest.mark.parametrize(
        "name, message",
        [
            ("foo", "不存在的关键字成员：foo"),
            ("_key_nothing", "不存在的关键字：nothing"),
            ("a_key_b_key_c", "不存在的关键字：b"),
            # A plain attribute called key_... is no keyword.
            ("_key_not_a_keyword", "不存在的关键字：not_a_keyword"),
        ],
    )
    def test_unknown_names(self, kw, name, message):
        with pytest.raises(AttributeError) as error:
            getattr(kw, name)
        assert str(error.value) == message

    def test_prefix_may_stand_anywhere_in_the_name(self, kw, log):
        assert kw.x_key_ping() == "pong"
        assert "正在执行关键字: 【ping】()" in log()

    def test_named_arguments_are_rejected(self, kw, log):
        with pytest.raises(TypeError, match="只接受位置参数"):
            kw._key_login("bob", password="x")
        assert log() == []

    def test_wrapper_holds_its_object_only_while_it_lives(self, exchanger):
        kw = MyKeyWord(exchanger, {})
        alive = weakref.ref(kw)
        call = kw._key_ping
        del kw
        assert call() == "pong"
        del call
        gc.collect()
        assert alive() is None

    def test_direct_method_call_bypasses_dispatch(self, kw, log):
        assert kw.key_ping() == "pong"
        assert log() == []


class TestKeywordList:
    def test_base_keywords_are_listed_once_and_cached(self, log):
        # Whatever asked first, BaseKeyWord's own list is the two shared keywords.
        assert BaseKeyWord.all_keyword() == ("assert", "set_driver")
        before = len(log())
        assert BaseKeyWord.all_keyword() is BaseKeyWord.all_keyword()
        assert len(log()) == before

    def test_first_listing_is_logged(self, fresh_classes, log):
        base, _ = fresh_classes
        assert base.all_keyword() == ("assert", "set_driver")
        assert log() == ["可用关键字: ('assert', 'set_driver')"]

    def test_each_class_keeps_its_own_list(self, fresh_classes):
        base, derived = fresh_classes
        # The base class asked first must not hide the subclass's own keyword...
        assert base.all_keyword() == ("assert", "set_driver")
        assert derived.all_keyword() == ("assert", "login", "set_driver")
        # ...and a subclass asked first must not add its keywords to the base.
        class Sibling(base):
            def key_extra(self):
                pass

        assert Sibling.all_keyword() == ("assert", "extra", "set_driver")
        assert base.all_keyword() == ("assert", "set_driver")
        assert "_all_keyword" in derived.__dict__

    def test_instances_dispatch_by_their_class_list(self, exchanger):
        BaseKeyWord.all_keyword()
        assert MyKeyWord(exchanger, {})._key_ping() == "pong"

    def test_subclass_keywords_and_multiple_inheritance(self):
        class Combined(MyKeyWord, OtherKeyWord):
            pass

        assert MyKeyWord.all_keyword() == ("assert", "login", "ping", "set_driver",
                                           "undocumented")
        assert Combined.all_keyword() == ("assert", "login", "logout", "ping", "set_driver",
                                          "undocumented")

    def test_printed_documentation(self, capsys):
        MyKeyWord.print_key_doc()
        assert capsys.readouterr().out.splitlines() == [
            "关键字及其参数",
            "=" * 20,
            *BaseKeyWord.key_assert.__doc__.splitlines(),
            "-" * 20,
            "关键字：login",
            "登录系统",
            ":param user: 用户名",
            "-" * 20,
            "关键字：ping",
            "-" * 20,
            "关键字：set_driver",
            "从fixtures请求浏览器",
            ":param fixture_name: 浏览器fixture的名称，如：chrome、new_chrome",
            "-" * 20,
            "读取关键字文档出错： undocumented",
        ]

    def test_documentation_of_a_class_without_keywords(self, capsys):
        class NoKeywords(BaseKeyWord):
            key_assert = None
            key_set_driver = None

        NoKeywords.print_key_doc()
        assert capsys.readouterr().out == "关键字及其参数\n" + "=" * 20 + "\n"


class TestDeclaredKeywords:
    def test_documentation_and_signature(self):
        assert BaseKeyWord.key_set_driver.__doc__.splitlines()[:2] == [
            "关键字：set_driver", "从fixtures请求浏览器"]
        assert BaseKeyWord.key_assert.__doc__.startswith("关键字：assert\n")
        assert str(inspect.signature(BaseKeyWord.key_assert)) == (
            "(self, value, assert_name, actual_value='', *args, **kwargs)")
        assert str(inspect.signature(BaseKeyWord(None, {}).key_assert)) == (
            "(value, assert_name, actual_value='', *args, **kwargs)")

    def test_arguments_bind_like_a_def_and_extras_are_ignored(self, kw, log):
        kw.key_assert("", "equal")  # actual_value defaults to the empty text
        kw.key_assert(2, "equal", 2, "extra", 3, unknown=4)
        BaseKeyWord.key_assert(kw, value=5, assert_name="equal", actual_value=5)
        assert log().count("断言通过") == 3
        with pytest.raises(TypeError, match="missing required argument: 'assert_name'"):
            kw.key_assert(1)
        with pytest.raises(TypeError, match="multiple values for argument 'value'"):
            kw.key_assert(1, "equal", value=1)

    def test_python_subclass_overrides_a_declared_keyword(self, exchanger, log):
        class Lenient(BaseKeyWord):
            def key_assert(self, value, assert_name, actual_value="", *args, **kwargs):
                """关键字：assert"""
                return super().key_assert(str(value), assert_name, str(actual_value))

        Lenient(exchanger, {})._key_assert(1, "equal", "1")
        assert "断言通过" in log()

    def test_cells_are_converted_to_the_kind_of_their_parameter(self, exchanger):
        from lumox.actlib import ApiKeyWord, KeyWord

        api = ApiKeyWord(exchanger, {})
        api.key_set_json('{"a": [1, 2]}')
        assert api.current_request.json == {"a": [1, 2]}
        with pytest.raises(FileNotFoundError, match=re.escape(str(Path.home() / "absent.txt"))):
            api.key_add_file("upload", " ~/absent.txt")
        assert KeyWord.key_click.param_kinds == {"locator": "locator", "force": "truth value"}
        assert KeyWord.key_swipe.param_kinds["start_x"] == "whole number"
        web = KeyWord(exchanger, {})
        web.key_sleep(" 0.01 ")  # seconds with blanks, as a cell may hold them
        for call, error, message in [
                (lambda: api.key_set_json("{bad"), json.JSONDecodeError,
                 "set_json: _json is not valid JSON "
                 "(Expecting property name enclosed in double quotes): line 1 column 2 (char 1)"),
                (lambda: web.key_wait_visible("x ;; ID", "soon"), ValueError,
                 "wait_visible: timeout must be a number of seconds such as 5 or 0.5, not 'soon'"),
                (lambda: web.key_click("x ;; ID", "maybe"), ValueError,
                 "click: force must be a truth value (true or false, yes or no, 1 or 0), not "
                 "'maybe'"),
                (lambda: web.key_save_url("  "), ValueError, "save_url: var_name is empty"),
                (lambda: web.key_swipe("1", "2", "x", 4), TypeError,
                 "key_swipe() argument 'end_x' must be int, not str")]:
            with pytest.raises(error) as failure:
                call()
            assert str(failure.value).startswith(message), message
        # A secret header typed wrong stays out of the message and of the error's text.
        with pytest.raises(json.JSONDecodeError) as failure:
            api.key_set_headers('{"Authorization": "Bearer s3cr3t"')
        assert "s3cr3t" not in str(failure.value) + failure.value.doc
        assert str(failure.value).startswith("set_headers: headers is not valid JSON (Expecting")
        # The text "false" no longer forces the click; converted before the body runs.
        with pytest.raises(RuntimeError, match="driver"):
            web.key_click("x ;; ID", " False ")

    def test_assert_name_must_be_text(self, kw, log):
        with pytest.raises(TypeError, match="'assert_name' must be str, not int"):
            kw.key_assert(1, 2, 1)
        assert log() == []


class TestConstructionAndVariables:
    def test_fields_and_class_level_defaults(self, exchanger):
        fixtures = types.MappingProxyType({"x": 1})
        kw = BaseKeyWord(exchanger, usefixtures=fixtures)
        assert (kw.exchanger, kw.usefixtures) == (exchanger, fixtures)
        assert (kw.driver, kw.client, kw.wait, kw._activate_ele) == (None, None, None, None)
        assert kw._key_prefix == "_key_"

    def test_fixtures_must_be_a_mapping(self, exchanger):
        with pytest.raises(TypeError, match="'usefixtures' must be a mapping, not list"):
            BaseKeyWord(exchanger, ["chrome"])

    def test_set_vars_writes_the_variables_file_in_a_report_step(self, kw, report_steps):
        kw.set_vars("token", {"a": [1, 2]})
        kw.set_vars("code", 200)
        assert kw.exchanger.file["token"] == {"a": [1, 2]}
        assert kw.exchanger.file["code"] == 200
        assert report_steps.summary() == [("设置变量", True), ("设置变量", True)]
        assert report_steps.steps[1]["params"] == {"var_name": "'code'", "value": "200"}

    def test_set_driver_takes_only_webdriver_sessions(self, exchanger, report_steps):
        kw = BaseKeyWord(exchanger, {"page": "not a browser"})
        with pytest.raises(AssertionError):
            kw._key_set_driver("page")
        with pytest.raises(KeyError):
            kw._key_set_driver("chrome")
        assert kw.driver is None and kw.wait is None
        assert report_steps.summary() == [("从fixtures请求浏览器", False)] * 2


class TestLumoxLocator:
    @pytest.mark.parametrize(
        "text, form",
        [
            ("kw;;ID;;1", "Locator(value='kw', by='id', index=1)"),
            (" //li ;; XPATH ;; 2 ", "Locator(value='//li', by='xpath', index=2)"),
            ("a\\;;b;;ID", "Locator(value='a;;b', by='id', index=0)"),
            ("~a ;; ACCESSIBILITY_ID", "Locator(value='~a', by='accessibility id', index=0)"),
        ],
    )
    def test_parsed_parts_and_text_form(self, text, form):
        locator = LumoxLocator(text)
        assert str(locator) == repr(locator) == form
        assert isinstance(locator.index, int)

    @pytest.mark.parametrize(
        "text, message",
        [
            ("x;;id", "定位器解析失败: 未知的维度策略 value='id'"),
            ("x;;__doc__", "定位器解析失败: 未知的维度策略 value='__doc__'"),
            ("x;;XPATH;;-1", "定位器解析失败: 位置索引不正确 index='-1'"),
            ("x;;XPATH;;", "定位器解析失败: 位置索引不正确 index=''"),
        ],
    )
    def test_rejected_parts_are_logged_then_raised(self, text, message, caplog):
        with pytest.raises(ValueError) as error:
            LumoxLocator(text)
        assert str(error.value) == message
        assert [(r.levelname, r.getMessage()) for r in caplog.records] == [("ERROR", message)]

    def test_a_fourth_part_is_ignored_with_a_warning(self, caplog):
        assert (str(LumoxLocator("picked;;ID;;0;;extra"))
                == "Locator(value='picked', by='id', index=0)")
        assert [(r.levelname, r.getMessage()) for r in caplog.records] == [(
            "WARNING", "locator 'picked;;ID;;0;;extra': ';;extra' after the index is ignored (a "
                       "locator is value ;; by ;; index; write a ;; of the value as \\;;)")]

    def test_setters_check_like_parsing(self):
        locator = LumoxLocator("x")
        locator.by, locator.index, locator.value = "NAME", "4", "p\\;;q"
        assert str(locator) == "Locator(value='p\\;;q', by='name', index=4)"
        locator.value = "p{_lumox_escape_}q"
        assert locator.value == "p;;q"
        with pytest.raises(ValueError):
            locator.by = "name"
        with pytest.raises(TypeError, match="'index' must be str, not int"):
            locator.index = 4
        with pytest.raises(TypeError, match="'locator_str' must be str, not NoneType"):
            LumoxLocator(None)
        assert str(locator) == "Locator(value='p;;q', by='name', index=4)"


class TestValidator:
    @pytest.mark.parametrize(
        "expected, name, actual",
        [
            (1, "equal", 1),
            ("abc", "contains", "bc"),
            ([1, 2], "contains", 2),
            ({"id": 1}, "contains", "id"),
            ("bc", "in", "abc"),
            (r"\d+", "re", "order 42"),
            (r"^20\d$", "re", 200),  # a saved status code is an int
            (200, "re", "HTTP 200 OK"),  # a number cell as pattern
            ('{"id": 1, "tags": ["a"]}', "scheme", {"id": 7, "tags": ["x", "y"]}),
            ({"id": 1}, "scheme", '{"id": 2, "more": null}'),
        ],
    )
    def test_passing_assertions(self, kw, expected, name, actual, log):
        validator = Validator(kw, expected, name, actual)
        assert (validator.parent, validator.webdriver, validator.value, validator.verify_name,
                validator.actual_value) == (kw, None, expected, name, actual)
        assert log() == ["断言通过"]

    @pytest.mark.parametrize(
        "expected, name, actual, message",
        [
            ("1", "equal", 1, ""),
            ("abc", "in", "bc", ""),
            ("abc", "contains", "x", ""),
            (r"^\d+$", "re", "order 42", "Regex didn't match: ^\\d+$ not found in order 42"),
            (1, "equals", 1, "未知的断言方法"),
        ],
    )
    def test_failing_assertions(self, kw, expected, name, actual, message, log):
        with pytest.raises(AssertionError) as error:
            Validator(kw, expected, name, actual)
        assert str(error.value) == message
        assert log() == []

    def test_schema_mismatch_names_both_values_and_keeps_the_cause(self, kw):
        with pytest.raises(AssertionError) as error:
            Validator(kw, '{"id": 1}', "scheme", {"id": "7"})
        assert str(error.value) == "Response schema invalid  ( a={'id': 1} on b={'id': '7'})"
        assert isinstance(error.value.__cause__, ValidationError)

    def test_broken_inputs_raise_their_own_errors(self, kw):
        with pytest.raises(re.error):
            Validator(kw, "(", "re", "x")
        with pytest.raises(json.JSONDecodeError):
            Validator(kw, "{not json", "scheme", {})

    def test_validator_reads_the_parent_driver(self, exchanger):
        kw = BaseKeyWord(exchanger, {})
        kw.driver = "session"
        assert Validator(kw, 1, "equal", 1).webdriver == "session"


class TestMockRequest:
    def test_record_fields_are_its_own_mapping(self):
        request = MockRequest()
        fields = request.to_dict()
        assert list(fields.items()) == [("headers", {}), ("cookies", {}), ("params", {}),
                                        ("data", {}), ("json", {}), ("files", [])]
        request.headers["X-A"] = "1"
        request.extra = "later"
        assert fields is request.to_dict()
        assert fields["headers"] == {"X-A": "1"} and fields["extra"] == "later"
        assert MockRequest().headers == {}  # records never share their mappings


class TestTouchActionChains:
    @pytest.fixture
    def chain(self):
        # Nothing is performed, so the chain needs no session.
        return MyActionChains(None)

    @staticmethod
    def touch_inputs(chain):
        return {device.name: device.encode() for device in chain.w3c_actions.devices
                if getattr(device, "kind", None) == "touch"}

    def test_pointers_are_numbered_per_chain(self, chain):
        pointer = chain.new_pointer()
        element = WebElement(None, "element-7")
        tap = chain.click_by_new_pointer(element, 0.25)
        assert (pointer.source.name, tap.name, chain.pointer_count) == ("p_2", "p3", 3)
        assert MyActionChains.pointer_count == 1
        assert MyActionChains(None).new_pointer().source.name == "p_2"
        assert self.touch_inputs(chain)["p3"] == {
            "type": "pointer",
            "parameters": {"pointerType": "touch"},
            "id": "p3",
            "actions": [
                {"type": "pointerMove", "duration": 1, "x": 0, "y": 0,
                 "origin": {"element-6066-11e4-a52e-4f735466cecf": "element-7"}},
                {"type": "pointerDown", "duration": 0, "button": 0},
                {"type": "pause", "duration": 250},
                {"type": "pointerUp", "duration": 0, "button": 0},
            ],
        }

    def test_swipe_sequence(self, chain, log):
        chain.touch_by_new_pointer(10, 20, 110, 220, "0.5")
        chain.touch_by_new_pointer(0, 0, 5, 5)
        inputs = self.touch_inputs(chain)
        assert list(inputs) == ["p2", "p3"]
        assert inputs["p2"]["actions"] == [
            {"type": "pointerMove", "duration": 1, "x": 10, "y": 20},
            {"type": "pointerDown", "duration": 0, "button": 0},
            {"type": "pause", "duration": 500},
            {"type": "pointerMove", "duration": 1, "x": 110, "y": 220},
            {"type": "pointerUp", "duration": 0, "button": 0},
        ]
        assert inputs["p3"]["actions"][2] == {"type": "pause", "duration": 100}
        assert log()[0] == "创建指针并滑动屏幕 start_x=10, start_y=20 -> end_x=110,220"

    @pytest.mark.parametrize("position", range(4))
    def test_swipe_coordinates_must_be_integers(self, chain, log, position):
        args = [1, 2, 3, 4]
        args[position] = 1.5
        name = ["start_x", "start_y", "end_x", "end_y"][position]
        with pytest.raises(TypeError, match=f"'{name}' must be int, not float"):
            chain.touch_by_new_pointer(*args)
        assert log() == [] and chain.pointer_count == 1
