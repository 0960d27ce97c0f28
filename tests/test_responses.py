"""Response validation and text assertions, on real httpx responses."""

import httpx
import pytest

from lumox.responses import TextAssertion, TextField, validator

REQUEST = httpx.Request("GET", "http://127.0.0.1/x")


def make_response(status=200, **kwargs):
    return httpx.Response(status, request=REQUEST, **kwargs)


USER = make_response(
    200,
    json={"user": {"name": "张三", "id": 7, "tags": ["a", "b"]}, "ok": True, "none": None},
    headers={"X-Trace": "abc-123"},
)


class TestStatusCode:
    @pytest.mark.parametrize(
        "expected, status",
        [(200, 200), ("200", 200), ("200 | 204", 204), ([200, 201], 201), ("2??", 201),
         ("301 | 2*", 299), (["200", "3??"], 302)],
    )
    def test_accepted(self, expected, status):
        assert validator(make_response(status), status_code=expected) == {}

    @pytest.mark.parametrize(
        "expected, reason",
        [(200, "expected 200, got 500"), ("200 | 204", "expected 200 | 204, got 500"),
         ([200, 201], "expected 200 | 201, got 500"), ("5", "expected 5, got 500")],
    )
    def test_rejected_with_expected_and_actual(self, expected, reason):
        assert validator(make_response(500), status_code=expected) == {"status_code": reason}

    @pytest.mark.parametrize(
        "expected, error, text",
        [("200, 204", ValueError, "'200, 204' is not a status code pattern"),
         ("200 |", ValueError, "empty alternative"),
         ([], ValueError, "empty"),
         (2.0, TypeError, "got float"),
         (True, TypeError, "got bool"),
         (None, TypeError, "got NoneType")],
    )
    def test_misuse_is_an_error_not_a_silent_mismatch(self, expected, error, text):
        with pytest.raises(error, match="status_code") as raised:
            validator(make_response(200), status_code=expected)
        assert text in str(raised.value)


class TestHeadersTextJson:
    def test_all_passing_sections_give_an_empty_mapping(self):
        errors = validator(
            USER,
            status_code=200,
            headers={"content-type": "application/json", "x-trace": "abc-*"},
            text={"value": '"id":\\s*7', "mode": "re"},
            json={"$.user.name": "张*", "$.user.id": 7, "$.ok": True, "$.user.tags[1]": "b",
                  "$.none": None},
        )
        assert errors == {}

    def test_failures_are_keyed_by_part_with_expected_and_actual(self):
        errors = validator(
            USER,
            headers={"X-Trace": {"value": "abc", "mode": "same"}, "X-Missing": "*"},
            text={"value": "nothing like this", "mode": "contains"},
            json={"$.user.id": 8, "$.user.email": "*",
                  "$.user.name": {"value": "李四", "msg": "wrong user"}},
        )
        assert errors == {
            "headers.X-Trace": "expected exactly 'abc', got 'abc-123'",
            "headers.X-Missing": "expected to match '*', but the header is missing",
            "text": "expected to contain 'nothing like this', got " + repr(USER.text),
            "json.$.user.id": "expected to match '8', got '7'",
            "json.$.user.email": "expected to match '*', but nothing matches $.user.email",
            "json.$.user.name": "wrong user (expected to match '李四', got '张三')",
        }

    def test_body_that_is_not_json(self):
        errors = validator(make_response(200, text="<html>"), json={"$.a": 1}, text="<*>")
        assert errors == {"json": "expected a JSON body, got '<html>'"}

    def test_json_on_a_list_body(self):
        resp = make_response(200, json=[{"id": 1}, {"id": 2}])
        assert validator(resp, json={"$[1].id": 2, "$..id": 1}) == {}

    def test_unknown_section_is_refused_before_any_check(self):
        with pytest.raises(TypeError, match="unexpected keyword argument 'body'"):
            validator(make_response(500), status_code=200, body="x")

    @pytest.mark.parametrize("section", ["headers", "json"])
    def test_sections_that_must_be_mappings(self, section):
        with pytest.raises(TypeError, match=f"{section}: expected a mapping"):
            validator(USER, **{section: ["x"]})


class TestTextAssertion:
    @pytest.mark.parametrize(
        "data, text, passed",
        [
            ("200", "200", True),
            (200, "200", True),
            ("2*", "204", True),
            ("20", "200", False),  # glob matches the whole text
            ({"value": "a*b", "mode": "same"}, "a*b", True),
            ({"value": "a*b", "mode": "same"}, "axxb", False),
            ({"value": "ok", "mode": "contains"}, "all ok!", True),
            ({"value": "[0-9]+", "mode": "re"}, "id 42 found", True),  # search, not match
            ({"value": "^[0-9]+$", "mode": "re"}, "id 42", False),
            ({"value": "x", "mode": None}, "x", True),
        ],
    )
    def test_modes(self, data, text, passed):
        assert TextField.form_asserts("name", data).validate(text) is passed

    def test_validate_uses_the_text_form_of_any_value(self):
        assert TextField.form_asserts("code", {"value": "^2\\d\\d$", "mode": "re"}).validate(204)
        assert TextField.form_asserts("flag", "True").validate(True)

    def test_record_fields(self):
        record = TextField.form_asserts("code", {"value": 200, "mode": "re", "msg": "bad code"})
        assert isinstance(record, TextAssertion)
        assert vars(record) == {"name": "code", "value": "200", "mode": "re", "msg": "bad code"}
        assert repr(record) == "TextAssertion(name='code', value='200', mode='re', msg='bad code')"
        plain = TextField.form_asserts("code", "2*")
        assert vars(plain) == {"name": "code", "value": "2*", "mode": "glob", "msg": None}

    @pytest.mark.parametrize(
        "data, problem",
        [
            ({"value": 1, "mode": "regex"}, "unknown assertion mode 'regex'"),
            ({"value": 1, "mode": 3}, "assertion mode must be text"),
            ({"mode": "re"}, "has no 'value'"),
            ({"value": 1, "mod": "re"}, "unknown assertion key 'mod'"),
            ({"value": "(", "mode": "re"}, "'(' is not a valid regular expression"),
        ],
    )
    def test_malformed_data_names_assertion_and_problem(self, data, problem):
        with pytest.raises(ValueError) as raised:
            TextField.form_asserts("user_id", data)
        assert str(raised.value).startswith("user_id: ")
        assert problem in str(raised.value)
