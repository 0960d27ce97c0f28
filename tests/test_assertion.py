"""Assertions of validate steps and the pairwise assertion executor."""

import json
import logging

import pytest

from lumox.assertion import Assertion, new_assertion
from lumox.templates import add_globals, env_globals
from report_steps import report_steps_fixture  # noqa: F401  (fixture report_steps)


@pytest.fixture
def run_vars():
    """Run variables for one test, removed afterwards (env_globals is process-wide)."""
    added = []

    def add(**kw):
        added.extend(kw)
        add_globals(**kw)

    yield add
    for name in added:
        env_globals.pop(name, None)


class TestNewAssertion:
    def test_variable_value_is_checked_by_its_text_form(self, run_vars, caplog):
        run_vars(status=200)
        caplog.set_level(logging.DEBUG, logger="lumox.assertion")
        assert new_assertion("status", 200) is None
        assert new_assertion(assert_name="status", assert_data="2??") is None
        assert [(r.levelname, r.getMessage()) for r in caplog.records] == [
            ("DEBUG",
             "text_assert = {'name': 'status', 'value': '200', 'mode': 'glob', 'msg': None}"),
            ("DEBUG", "text_value=200"),
            ("INFO", "    status: is_passed=True"),
            ("DEBUG",
             "text_assert = {'name': 'status', 'value': '2??', 'mode': 'glob', 'msg': None}"),
            ("DEBUG", "text_value=200"),
            ("INFO", "    status: is_passed=True"),
        ]

    def test_regex_searches_the_text_form_of_a_number(self, run_vars):
        run_vars(user_id=4711)
        new_assertion("user_id", {"value": "^47\\d+$", "mode": "re"})
        with pytest.raises(AssertionError):
            new_assertion("user_id", {"value": "^8", "mode": "re"})

    def test_name_that_is_no_variable_is_checked_itself(self):
        new_assertion("no such variable here", {"value": "such", "mode": "contains"})

    def test_variable_holding_none_is_the_text_none(self, run_vars):
        run_vars(empty=None)
        new_assertion("empty", {"value": "None", "mode": "same"})

    def test_failure_with_custom_message(self, run_vars, caplog):
        run_vars(token="abc")
        with pytest.raises(AssertionError) as raised:
            new_assertion("token", {"value": "xyz", "msg": "登录失败"})
        assert str(raised.value) == "登录失败"
        assert (("lumox.assertion", logging.ERROR, "    token: is_passed=False")
                in caplog.record_tuples)

    def test_failure_with_default_message(self, run_vars):
        run_vars(token="abc")
        with pytest.raises(AssertionError) as raised:
            new_assertion("token", {"value": "x*", "mode": "glob"})
        assert str(raised.value) == (
            "token is 'abc' and does not match the pattern "
            "'{'name': 'token', 'value': 'x*', 'mode': 'glob', 'msg': None}'."
        )

    def test_malformed_assertion_data_propagates(self):
        with pytest.raises(ValueError, match="unknown assertion mode 'like'"):
            new_assertion("x", {"value": "x", "mode": "like"})


class TestAssertionExecutor:
    @pytest.mark.parametrize(
        "assert_type, a, b, op",
        [("equals", 1, 1, "=="), ("not_equals", 1, 2, "!="), ("not equals", "a", "b", "!="),
         ("in", "b", "abc", "in"), ("in", 2, [1, 2], "in"), ("in", "k", {"k": 1}, "in"),
         ("not_in", "z", "abc", "not in"), ("not in", 3, [1, 2], "not in")],
    )
    def test_passing_checks_log_and_report(self, assert_type, a, b, op, caplog, report_steps):
        caplog.set_level(logging.INFO, logger="lumox.assertion")
        Assertion(assert_type, {"检查": [a, b, "ignored"]})
        assert caplog.messages == [f"assert {a} {op} {b}, 检查"]
        assert report_steps.summary() == [("执行断言", True)]
        params = report_steps.steps[0]["params"]
        assert list(params) == ["msg", "a", "assert_type", "b"]
        assert params["assert_type"] == repr(assert_type)

    @pytest.mark.parametrize(
        "assert_type, a, b",
        [("equals", 1, 2), ("not_equals", 1, 1), ("not equals", 1, 1), ("in", "x", "abc"),
         ("not_in", "a", "abc"), ("not in", "a", "abc")],
    )
    def test_failing_checks(self, assert_type, a, b):
        with pytest.raises(AssertionError, match="^the message$"):
            Assertion(assert_data={"the message": (a, b)}, assert_type=assert_type)

    def test_first_failure_ends_the_run(self, report_steps, caplog):
        caplog.set_level(logging.INFO, logger="lumox.assertion")
        with pytest.raises(AssertionError) as raised:
            Assertion("equals", {"first": [1, 2], "second": [1, 2]})
        assert str(raised.value) == "first"
        assert report_steps.summary() == [("执行断言", False)]
        assert caplog.messages == ["assert 1 == 2, first"]

    def test_unknown_type_fails_inside_the_first_step(self, report_steps, caplog):
        with pytest.raises(AssertionError, match="^未知的断言方式: greater$"):
            Assertion("greater", {"m1": [2, 1], "m2": [3, 1]})
        assert caplog.record_tuples == [
            ("lumox.assertion", logging.WARNING, "未知的断言方式: greater")]
        assert report_steps.summary() == [("执行断言", False)]

    def test_empty_data_passes_even_for_an_unknown_type(self, report_steps):
        Assertion("greater", {})
        assert report_steps.steps == []

    @pytest.mark.parametrize(
        "assert_type, data, error",
        [("in", {"m": [1, 2]}, TypeError),  # 2 cannot contain anything
         ("equals", {"m": [1]}, IndexError),
         ("equals", [[1, 1]], AttributeError)],
    )
    def test_misuse_propagates_its_own_error(self, assert_type, data, error):
        with pytest.raises(error):
            Assertion(assert_type, data)

    def test_comparison_error_fails_the_report_step(self, report_steps):
        with pytest.raises(TypeError):
            Assertion("not_in", {"m": [1, 2]})
        assert report_steps.summary() == [("执行断言", False)]

    def test_allure_results_record_the_failed_step(self, pytester):
        # Values that JSON cannot hold must not break writing the report.
        pytester.makepyfile(
            """
            from lumox.assertion import Assertion

            def test_case():
                token = object()
                Assertion("equals", {"same token": [token, token], "wrong token": [token, 1]})
            """
        )
        result = pytester.runpytest("--alluredir", "results")
        result.assert_outcomes(failed=1)
        [case] = [json.loads(p.read_text("utf-8"))
                  for p in (pytester.path / "results").glob("*-result.json")]
        assert [(s["name"], s["status"]) for s in case["steps"]] == [
            ("执行断言", "passed"), ("执行断言", "failed")]
        assert [p["name"] for p in case["steps"][1]["parameters"]] == [
            "msg", "a", "assert_type", "b"]
        assert case["steps"][1]["statusDetails"]["message"].startswith(
            "AssertionError: wrong token")
