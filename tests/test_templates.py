"""Rendering of step values over the run's variables (lumox.templates)."""

import pytest

from lumox import templates


@pytest.fixture
def variables():
    """The run's variables, restored afterwards: they are process-wide."""
    saved = dict(templates.env_globals)
    templates.add_globals(token="abc123", user_id=7, ratio=0.5, active=True,
                          headers={"X-Token": "abc123"}, ids=[3, 4])
    yield templates.env_globals
    templates.env_globals.clear()
    templates.env_globals.update(saved)


def test_env_globals_is_one_mutable_mapping(variables):
    before = templates.env_globals
    templates.add_globals(user_id=8, fresh="new")
    assert templates.env_globals is before
    assert (variables["user_id"], variables["fresh"]) == (8, "new")
    assert templates.render("{{ fresh }}/{{ user_id }}") == "new/8"


@pytest.mark.parametrize(
    "source, expected",
    [
        ("{{ user_id }}", 7),
        ("  {{ user_id }}\n", 7),
        ("{{ ratio }}", 0.5),
        ("{{ active }}", True),
        ("{{ headers }}", {"X-Token": "abc123"}),
        ("{{ ids }}", [3, 4]),
        ("{{ user_id + 1 }}", 8),
        ("{{ {'a': {'b': user_id}} }}", {"a": {"b": 7}}),
        ("{{ '42' }}", "42"),
        ("{{ none }}", None),
    ],
)
def test_single_expression_keeps_the_value_type(variables, source, expected):
    result = templates.render(source)
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize(
    "source, expected",
    [
        ("Bearer {{ token }}", "Bearer abc123"),
        ("{{ user_id }}{{ user_id }}", "77"),
        ("/users/{{ user_id }}/orders", "/users/7/orders"),
        ("{% if active %}on{% else %}off{% endif %}", "on"),
        ("line {{ user_id }}\n", "line 7\n"),
        ("{{ token | upper }}-{{ ids | join(',') }}", "ABC123-3,4"),
        ("{{ missing | default('fallback') }}", "fallback"),
    ],
)
def test_mixed_text_and_statements_render_to_text(variables, source, expected):
    assert templates.render(source) == expected


def test_nested_step_is_rendered_as_a_fresh_copy(variables):
    step = {
        "request": {
            "method": "GET",
            "url": "/users/{{ user_id }}",
            "headers": "{{ headers }}",
            "params": [{"id": "{{ ids[0] }}"}, 5, None, 1.5, False],
        },
        "{{ token }}_key": "{{ user_id }}",
        7: "plain {text} without template",
    }
    rendered = templates.render(step)
    assert rendered == {
        "request": {
            "method": "GET",
            "url": "/users/7",
            "headers": {"X-Token": "abc123"},
            "params": [{"id": 3}, 5, None, 1.5, False],
        },
        "abc123_key": 7,
        7: "plain {text} without template",
    }
    assert list(rendered) == ["request", "abc123_key", 7]
    # The written step stays as it was, ready for the next run of the case.
    assert step["request"]["url"] == "/users/{{ user_id }}"
    # Editing the rendered step (a hook opening upload files) leaves the variables alone.
    rendered["request"]["headers"]["X-Token"] = "changed"
    assert variables["headers"] == {"X-Token": "abc123"}


def test_later_variables_are_seen_by_later_renders(variables):
    source = {"url": "/orders/{{ order_id }}"}
    with pytest.raises(templates.TemplateError):
        templates.render(source)
    templates.add_globals(order_id=99)
    assert templates.render(source) == {"url": "/orders/99"}
    templates.add_globals(order_id=100)
    assert templates.render(source) == {"url": "/orders/100"}


@pytest.mark.parametrize(
    "source, message",
    [
        ("{{ session_token }}", "undefined variable 'session_token'"),
        ("Bearer {{ session_token }}", "undefined variable 'session_token'"),
        ("{{ session_token.value }}", "undefined variable 'session_token'"),
        ("{{ headers.missing_key }}", "has no attribute 'missing_key'"),
        ("{{ user_id + }}", "template syntax error"),
    ],
)
def test_render_errors_name_the_problem_and_the_template(variables, source, message):
    with pytest.raises(templates.TemplateError) as excinfo:
        templates.render({"url": [source]})
    assert message in str(excinfo.value)
    assert repr(source) in str(excinfo.value)


def test_values_without_template_syntax_pass_unchanged(variables):
    for text in ("{ json: like }", "100% {done}", "{#{ odd }#}"):
        assert templates.render(text) is text
    for value in (3, 2.5, None, True, b"{{ token }}"):
        assert templates.render(value) is value
