"""The run's variable store: extraction from real httpx responses, and the variables file."""

import logging
import re

import httpx
import pytest
import yaml

from lumox.exchange import Exchange
from lumox.files import YamlFile
from lumox.templates import env_globals
from report_steps import report_steps_fixture  # noqa: F401  (fixture report_steps)

REQUEST = httpx.Request("GET", "http://127.0.0.1/x")


def make_response(status=200, **kwargs):
    return httpx.Response(status, request=REQUEST, **kwargs)


USER = make_response(
    201,
    json={"data": {"id": 7, "roles": ["tester", "admin"]}},
    headers={"X-Token": "tok-1", "Set-Cookie": "session=s3cr3t; Path=/"},
)
ORDERS = make_response(200, text="order=11; order=22; order=33")
HTML = make_response(200, text="<html>not json</html>")


@pytest.fixture
def exchanger(tmp_path):
    return Exchange(str(tmp_path / "vars.yaml"))


class TestExtract:
    @pytest.mark.parametrize(
        "resp, attr, expr, index, value",
        [
            (HTML, "str", "hello {{ x }}", 0, "hello {{ x }}"),  # a literal, body irrelevant
            (USER, "json", "$.data.id", 0, 7),  # the value itself, not a list
            (USER, "json", "$.data.roles[*]", -1, "admin"),
            (USER, "json", "$.data.missing", 0, "not data"),
            (USER, "json", "/data/id", 0, "not data"),
            (ORDERS, "text", "/order", 0, "not data"),
            (ORDERS, "text", r"order=(\d+)", 0, "11"),
            (ORDERS, "text", r"order=(\d+)", 1, "22"),
            (ORDERS, "text", r"order=(\d+)", -1, "33"),
            (ORDERS, "text", r"(\w+)=(\d+)", 1, ("order", "22")),
            (ORDERS, "text", r"nothing", 0, "not data"),
            (USER, "headers", "$.x-token", 0, "tok-1"),
            (USER, "cookies", "$.session", 0, "s3cr3t"),
            (USER, "status_code", r"\d+", 0, "201"),
            (HTML, "json", "$.data", 0, "not data"),
            (HTML, "json", r" is not \w+ data", 0, " is not json data"),
        ],
    )
    def test_values(self, exchanger, resp, attr, expr, index, value):
        exchanger.extract(resp, "var", attr, expr, index)
        assert env_globals["var"] == value
        assert type(env_globals["var"]) is type(value)

    @pytest.mark.parametrize("expr, index, value", [("$[1].id", 0, 2), ("$..id", -1, 3),
                                                    ("$[*]", 0, {"id": 1})])
    def test_jsonpath_on_a_list_body(self, exchanger, expr, index, value):
        resp = make_response(200, json=[{"id": 1}, {"id": 2}, {"id": 3}])
        exchanger.extract(resp, "var", "json", expr, index)
        assert env_globals["var"] == value

    def test_logs_the_value_and_replaces_an_existing_variable(self, exchanger, caplog):
        caplog.set_level(logging.DEBUG, logger="lumox.exchange")
        exchanger.extract(USER, "user_id", "json", "$.data.id")
        exchanger.extract(resp=ORDERS, var_name="user_id", attr="text", expr=r"\d+", index=2)
        assert env_globals["user_id"] == "33"
        assert caplog.record_tuples == [("lumox.exchange", logging.DEBUG, "user_id = 7"),
                                        ("lumox.exchange", logging.DEBUG, "user_id = 33")]

    def test_the_callers_response_is_left_alone(self, exchanger):
        exchanger.extract(USER, "var", "json", "$.data.id")
        assert USER.json() == {"data": {"id": 7, "roles": ["tester", "admin"]}}
        assert USER.json() is not USER.json()  # still parsed afresh each time

    @pytest.mark.parametrize(
        "args, message",
        [
            (("var", "json", 1), "extract() argument 'expr' must be str, not int"),
            (("var", "json", "$.a", True), "extract() argument 'index' must be int, not bool"),
            (("var", "json", "$.a", "1"), "extract() argument 'index' must be int, not str"),
            ((5, "str", "x"), "extract() argument 'var_name' must be str, not int"),
        ],
    )
    def test_argument_types(self, exchanger, args, message):
        with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
            exchanger.extract(USER, *args)

    @pytest.mark.parametrize(
        "attr, expr, index, error",
        [
            ("json", "$.data.id", 1, IndexError),  # one match only
            ("body", "$.a", 0, AttributeError),
            ("text", "(unclosed", 0, re.error),
            ("status_code", "$.code", 0, TypeError),  # a number is no mapping
        ],
    )
    def test_errors_propagate_and_leave_the_variable_unset(self, exchanger, attr, expr, index,
                                                           error):
        with pytest.raises(error):
            exchanger.extract(USER, "unset_var", attr, expr, index)
        assert "unset_var" not in env_globals

    def test_each_call_is_one_report_step(self, exchanger, report_steps):
        exchanger.extract(USER, "var", "json", "$.data.id")
        with pytest.raises(IndexError):
            exchanger.extract(USER, "var", "json", "$.data.id", 3)
        assert report_steps.summary() == [("提取变量", True), ("提取变量", False)]


class TestVariablesFile:
    def test_dump_writes_plain_values_only_and_merges(self, tmp_path):
        path = tmp_path / "vars.yaml"
        path.write_text("kept_from_before: 1\nnumber: 0\n", encoding="utf-8")
        env_globals.update(number=7, ratio=0.5, text="文本", items=[1, 2], nothing=None,
                           flag=False, mapping={"a": 1})
        Exchange(str(path)).dump()
        saved = yaml.safe_load(path.read_text(encoding="utf-8"))
        assert saved["kept_from_before"] == 1
        assert {k: saved[k] for k in ("number", "ratio", "text", "nothing", "flag")} == {
            "number": 7, "ratio": 0.5, "text": "文本", "nothing": None, "flag": False}
        assert "items" not in saved and "mapping" not in saved

    def test_dump_writes_only_changed_variables_over_other_processes_saves(self, tmp_path):
        path = tmp_path / "vars.yaml"
        path.write_text("loaded: 1\nretyped: 1\n", encoding="utf-8")
        exchanger = Exchange(str(path))
        env_globals.update(loaded=1, retyped=True, mine="x")  # loaded as the run began
        other = YamlFile(path)  # another pytest-xdist worker
        other.update(loaded=2, retyped=2, theirs="y")
        other.save()
        exchanger.dump()
        assert yaml.safe_load(path.read_text(encoding="utf-8")) == {
            "loaded": 2, "retyped": True, "theirs": "y", "mine": "x"}

    def test_default_file_name(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        env_globals["answer"] = 42
        Exchange().dump()
        assert yaml.safe_load((tmp_path / "FileNotFoundError.yaml").read_text())["answer"] == 42

    def test_debug_dumps_after_each_extraction(self, tmp_path):
        path = tmp_path / "vars.yaml"
        data = {"any": "thing"}
        exchanger = Exchange(str(path), data, True)
        assert exchanger._data is data
        exchanger.extract(USER, "token", "headers", "$.x-token")
        assert yaml.safe_load(path.read_text(encoding="utf-8"))["token"] == "tok-1"
        Exchange(str(tmp_path / "quiet.yaml")).extract(USER, "token", "headers", "$.x-token")
        assert not (tmp_path / "quiet.yaml").exists()
