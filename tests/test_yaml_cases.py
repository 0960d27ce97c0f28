"""YAML case files as pytest tests: collection, step hook, marks, reports, bad files.

Every suite runs in-process through pytester with the step runner plug-in switched off
(`-p no:lumox`), so the pytester conftest's own `pytest_yaml_run_step` is the only one.
"""

import ast
import gc
import textwrap

import pytest
import yaml

NO_STEP_RUNNER = ("-p", "no:lumox", "-p", "no:cacheprovider")

# Records every step it receives in steps.log, one repr'd tuple a line; `set` adds run
# variables, `fail` fails the step with its value, `hold` puts an object into the step.
RECORDING_CONFTEST = """
    import pytest
    from lumox.templates import add_globals
    from lumox.yaml_cases import YamlItem

    @pytest.fixture
    def login(tmp_path):
        with open("steps.log", "a", encoding="utf-8") as log:
            log.write(repr(("fixture", "login")) + "\\n")
        return "session-1"

    @pytest.fixture
    def broken():
        raise RuntimeError("fixture broke")

    def pytest_yaml_run_step(item, request):
        record = (
            item.name,
            item.current_step_index,
            item.current_step,
            isinstance(item, YamlItem) and isinstance(item, pytest.Function),
            isinstance(request, pytest.FixtureRequest) and request.node is item,
            sorted(k for k in request.fixturenames if k in ("login", "tmp_path")),
        )
        with open("steps.log", "a", encoding="utf-8") as log:
            log.write(repr(record) + "\\n")
        step = item.current_step
        if "set" in step:
            add_globals(**step["set"])
        if "use_fixture" in step:
            assert request.getfixturevalue(step["use_fixture"]) == "session-1"
        if "hold" in step:
            step["hold"] = object()
        if "fail" in step:
            raise AssertionError(step["fail"])
"""


@pytest.fixture
def suite(pytester):
    pytester.makeconftest(RECORDING_CONFTEST)
    pytester.makeini("[pytest]\naddopts = --strict-markers\nfilterwarnings = error\n")
    return pytester


def write_cases(pytester, name, text):
    path = pytester.path / name
    path.write_text(textwrap.dedent(text), encoding="utf-8")
    return path


def recorded_steps(pytester):
    log = pytester.path / "steps.log"
    if not log.exists():
        return []
    return [ast.literal_eval(line) for line in log.read_text(encoding="utf-8").splitlines()]


def test_every_document_of_every_case_file_is_a_case(suite):
    write_cases(suite, "test_orders.yaml", """\
        test_name: create order
        steps:
          - request: {method: POST, url: /orders}
          - validate: {status: created}
        ---
        test_name: list orders
        steps:
          - request: {method: GET, url: /orders}
        ---
        """)
    write_cases(suite, "test_users.yml", """\
        # one case in a .yml file
        test_name: read user
        steps:
          - request: {url: /users/1}
        """)
    write_cases(suite, "orders.yaml", "test_name: not collected\nsteps: [{a: 1}]\n")
    # A passing case drops its data; read after the run, it is the case as written.
    suite.makeconftest(RECORDING_CONFTEST + """
    def pytest_sessionfinish(session):
        with open("after.log", "w", encoding="utf-8") as log:
            for item in session.items:
                log.write(repr((item.case, item.steps is item.case["steps"])) + "\\n")
    """)
    result = suite.runpytest(*NO_STEP_RUNNER, "-v")
    result.assert_outcomes(passed=3)
    result.stdout.fnmatch_lines([
        "test_orders.yaml::create order PASSED*",
        "test_orders.yaml::list orders PASSED*",
        "test_users.yml::read user PASSED*",
    ])
    steps = recorded_steps(suite)
    assert [(name, index, step) for name, index, step, *_ in steps] == [
        ("create order", 1, {"request": {"method": "POST", "url": "/orders"}}),
        ("create order", 2, {"validate": {"status": "created"}}),
        ("list orders", 1, {"request": {"method": "GET", "url": "/orders"}}),
        ("read user", 1, {"request": {"url": "/users/1"}}),
    ]
    # The hook gets a YamlItem (a pytest.Function) and the item's real fixture request.
    assert all(is_item and is_request for _, _, _, is_item, is_request, _ in steps)
    written = [*yaml.safe_load_all((suite.path / "test_orders.yaml").read_text())][:2]
    written.append(yaml.safe_load((suite.path / "test_users.yml").read_text()))
    after = (suite.path / "after.log").read_text(encoding="utf-8").splitlines()
    assert [ast.literal_eval(line) for line in after] == [(case, True) for case in written]


def test_steps_are_rendered_just_before_they_run(suite):
    write_cases(suite, "test_01_login.yaml", """\
        test_name: login
        steps:
          - set: {token: tok-7, user_id: 7, roles: [admin, tester]}
          - request:
              url: "/users/{{ user_id }}"
              headers: {Authorization: "Bearer {{ token }}"}
              params: {id: "{{ user_id }}", next: "{{ user_id + 1 }}"}
            roles: "{{ roles }}"
          - set: {user_id: 8}
          - request: {url: "/users/{{ user_id }}"}
        """)
    write_cases(suite, "test_02_profile.yaml", """\
        test_name: profile
        steps:
          - request: {url: /profile, headers: {Authorization: "Bearer {{ token }}"}}
        """)
    result = suite.runpytest(*NO_STEP_RUNNER)
    result.assert_outcomes(passed=2)
    rendered = [step for _, _, step, *_ in recorded_steps(suite)]
    assert rendered[1] == {
        "request": {
            "url": "/users/7",
            "headers": {"Authorization": "Bearer tok-7"},
            "params": {"id": 7, "next": 8},
        },
        "roles": ["admin", "tester"],
    }
    # A variable replaced by one step is seen by the next step, and by later cases.
    assert rendered[3] == {"request": {"url": "/users/8"}}
    assert rendered[4] == {"request": {"url": "/profile",
                                       "headers": {"Authorization": "Bearer tok-7"}}}


def test_cases_run_without_any_step_hook(pytester):
    write_cases(pytester, "test_plain.yaml", "test_name: nothing to do\nsteps: [{a: 1}, {b: 2}]\n")
    pytester.runpytest(*NO_STEP_RUNNER).assert_outcomes(passed=1)


def test_marks_skip_xfail_and_usefixtures(suite):
    path = write_cases(suite, "test_marks.yaml", """\
        test_name: skipped by name
        marks: [skip]
        steps: [{fail: must not run}]
        ---
        test_name: skipped with a reason
        marks:
          - skip: not ready
        steps: [{fail: must not run}]
        ---
        test_name: known bug
        marks:
          - xfail: {reason: bug 12, strict: true}
        steps: [{fail: still broken}]
        ---
        test_name: logged in
        marks:
          - usefixtures: [login]
        steps:
          - use_fixture: login
        ---
        test_name: setup breaks
        marks:
          - usefixtures: broken
        steps: [{fail: must not run}]
        ---
        test_name: plain again
        steps: [{note: after the cases with fixtures of their own}]
        """)
    result = suite.runpytest(*NO_STEP_RUNNER, "-rsx")
    result.assert_outcomes(passed=2, skipped=2, xfailed=1, errors=1)
    line_of_second_case = path.read_text().splitlines().index("test_name: skipped with a reason")
    result.stdout.fnmatch_lines([
        f"SKIPPED [1] test_marks.yaml:{line_of_second_case + 1}: not ready",
        "XFAIL test_marks.yaml::known bug - bug 12",
    ])
    # A fixture failing at setup is reported by pytest as usual, at its own frame.
    result.stdout.fnmatch_lines(["*ERROR at setup of case: setup breaks*",
                                 "*RuntimeError: fixture broke"])
    # Skipped cases never reach the hook; the usefixtures fixture runs before the steps
    # and is among the fixtures of that case's request only.
    steps = recorded_steps(suite)
    assert [entry[0] for entry in steps] == ["known bug", "fixture", "logged in", "plain again"]
    assert (steps[0][5], steps[2][5], steps[3][5]) == ([], ["login", "tmp_path"], [])


def test_pytest_tools_locate_cases_in_their_yaml_file(suite):
    write_cases(suite, "test_where.yaml", """\
        test_name: first
        steps: []
        ---
        test_name: logged in
        marks: [{usefixtures: login}]
        steps: []
        ---
        test_name: last
        steps: []
        """)
    # The cases without marks share one test object; each is still placed at its own line.
    with open(suite.path / "conftest.py", "a", encoding="utf-8") as conftest:
        conftest.write("\n\n@pytest.fixture(autouse=True)\ndef everywhere():\n    yield\n")
    result = suite.runpytest(*NO_STEP_RUNNER, "--fixtures-per-test")
    assert result.ret == 0
    result.stdout.fnmatch_lines(["*fixtures used by first*", "*(test_where.yaml:1)*",
                                 "*fixtures used by logged in*", "*(test_where.yaml:4)*",
                                 "login -- conftest.py:*",
                                 "*fixtures used by last*", "*(test_where.yaml:8)*"])
    result = suite.runpytest(*NO_STEP_RUNNER, "--collect-only", "-k", "logged")
    result.stdout.fnmatch_lines(["*<YamlItem logged in>*", "*1/3 tests collected*"])


def test_unknown_mark_fails_under_strict_markers(suite):
    write_cases(suite, "test_mark_typo.yaml", """\
        test_name: typo
        marks: [skipp]
        steps: []
        """)
    result = suite.runpytest(*NO_STEP_RUNNER)
    result.assert_outcomes(errors=1)
    result.stdout.fnmatch_lines(["*'skipp' not found in `markers` configuration option*"])


def test_failure_report_names_case_step_and_rendered_step(suite):
    path = write_cases(suite, "test_fail.yaml", """\
        test_name: passes first
        steps: [{set: {status: 500}}]
        ---
        test_name: broken order
        steps:
          - request: {url: /orders}
          - request: {url: "/orders/{{ status }}"}
            fail: "status {{ status }} != 200"
          - request: {url: /never}
        ---
        test_name: undefined variable
        steps:
          - request: {url: "/users/{{ user_idd }}"}
        ---
        test_name: hook put an object in the step
        steps:
          - hold: file
            fail: upload broke
        """)
    result = suite.runpytest(*NO_STEP_RUNNER, "-rf")
    result.assert_outcomes(passed=1, failed=3)
    case_line = path.read_text().splitlines().index("test_name: broken order") + 1
    result.stdout.fnmatch_lines([
        "*_ case: broken order _*",
        f"YAML case 'broken order' failed at step 2 of 3 (test_fail.yaml, line {case_line})",
        "step 2 as rendered:",
        "    request:",
        "      url: /orders/500",
        "    fail: status 500 != 200",
        "",
        "AssertionError: status 500 != 200",
        "*_ case: undefined variable _*",
        "YAML case 'undefined variable' failed at step 1 of 1 *",
        "step 1 as written (rendering it failed):",
        "      url: /users/{{ user_idd }}",
        "",
        "lumox.templates.TemplateError: undefined variable 'user_idd' in template*",
        "*_ case: hook put an object in the step _*",
        "    hold: <object object at *>",
        "AssertionError: upload broke",
        "FAILED test_fail.yaml::broken order - AssertionError: status 500 != 200",
    ])
    # A tester reads the case, not the frames of the hook machinery.
    assert "conftest.py" not in result.stdout.str()
    assert "site-packages" not in result.stdout.str()
    # Steps after the failing one do not run.
    assert [(name, index) for name, index, *_ in recorded_steps(suite)] == [
        ("passes first", 1), ("broken order", 1), ("broken order", 2),
        ("hook put an object in the step", 1),
    ]


def test_fulltrace_adds_the_traceback_to_the_report(suite):
    write_cases(suite, "test_fail.yaml", "test_name: broken\nsteps: [{fail: boom}]\n")
    result = suite.runpytest(*NO_STEP_RUNNER, "--fulltrace")
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines([
        "YAML case 'broken' failed at step 1 of 1 *",
        "AssertionError: boom",
        "*def pytest_yaml_run_step(item, request):*",
    ])


def test_malformed_cases_are_errors_of_their_own_naming_file_and_problem(suite):
    write_cases(suite, "test_good.yaml", "test_name: fine\nsteps: [{a: 1}]\n")
    write_cases(suite, "test_syntax.yaml", "test_name: broken\nsteps: [{a: 1}\n")
    write_cases(suite, "test_shapes.yaml", """\
        test_name: no steps here
        ---
        - a list, not a case
        ---
        test_name: steps not a list
        steps: {request: {url: /}}
        ---
        test_name: one bad step
        steps:
          - request: {url: /}
          - just text
        ---
        steps: [{a: 1}]
        ---
        test_name: bad marks
        marks: [{skip: x, xfail: y}, 3, {_private: 1}]
        steps: []
        ---
        test_name: fine
        steps: []
        ---
        test_name: fine
        steps: []
        """)
    # No --continue-on-collection-errors: broken case files never stop the other files,
    # yet the run as a whole fails. A broken case is an error of its own, so the sound case
    # of its file runs (one stopped the whole file); a file that is no YAML is one error.
    result = suite.runpytest(*NO_STEP_RUNNER)
    result.assert_outcomes(passed=2, errors=8)
    assert result.ret == pytest.ExitCode.TESTS_FAILED
    result.stdout.fnmatch_lines_random([
        "*ERROR at setup of case: no steps here*",
        "*ERROR at setup of case: document 2*",
        "test_shapes.yaml, document 1 (line 1), case 'no steps here': steps is missing",
        "test_shapes.yaml, document 2 (line 3): a case must be a mapping with test_name and"
        " steps, got a list ['a list, not a case']",
        "test_shapes.yaml, document 3 (line 5), case 'steps not a list': steps must be a list"
        " of mappings, got a mapping {'request': {'url': '/'}}",
        "test_shapes.yaml, document 4 (line 8), case 'one bad step': step 2 must be a mapping"
        " of step keys, got text 'just text'",
        "test_shapes.yaml, document 5 (line 13): test_name is missing",
        "test_shapes.yaml, document 6 (line 15), case 'bad marks': marks entry 1 must be a mark"
        " name or a mapping of one mark name to its arguments, got a mapping *",
        "test_shapes.yaml, document 6 (line 15), case 'bad marks': marks entry 2 must be *,"
        " got int 3",
        "test_shapes.yaml, document 6 (line 15), case 'bad marks': marks entry 3: text"
        " '_private' is not a mark name",
        "test_shapes.yaml, document 8 (line 22): test_name 'fine' is already used by"
        " document 7 (line 19)",
        "*ERROR collecting test_syntax.yaml*",
        "test_syntax.yaml: not valid YAML:",
        '*in "test_syntax.yaml", line 2, column 8*',
    ])
    assert "Traceback" not in result.stdout.str()
    result.stdout.fnmatch_lines_random([
        "ERROR test_shapes.yaml::no steps here - Failed: test_shapes.yaml, document 1*",
        "ERROR test_shapes.yaml::document 8 - *", "ERROR test_syntax.yaml"])


# Values whose meaning differs between YAML readers: each file must read exactly as PyYAML's
# SafeLoader reads it, whether libyaml's fast path takes it or hands it over.
YAML_VALUES = {
    "plain": """\
        test_name: plain values
        steps:
          - mock:
              ints: [0, -12, +7, 123456789012345678901234567890]
              floats: [1.5, -2., .5, +0.25]
              words: [yes, No, on, OFF, true, ~, null, "", '', -, .hidden, 1.2.3, 10.0.0.1]
              quoted: ["123", '1.5', "yes", "null"]
              text: [/api/health, $.token, "(.*)", a: b, 中文, "\\t tab"]
              block: |
                two lines
                and the end
              folded: >
                folded
                text
              empty:
              alias: &shared {a: 1, b: [x, y]}
              again: *shared
              dup: 1
              dup: 2
        ---
        test_name: second case
        steps: []
        """,
    "special": """\
        test_name: values PyYAML reads its own way
        steps:
          - mock:
              octal: 012
              hex: 0x1F
              grouped: 1_000
              sexagesimal: 1:30
              exponent: 1.0e+3
              not_a_float: 1e3
              inf: .inf
              date: 2024-01-31
              tagged: !!str 42
              merged:
                <<: {a: 1}
                b: 2
              odd: "\\ud800"
        """,
}


@pytest.mark.parametrize("name", sorted(YAML_VALUES))
def test_case_files_read_as_pyyaml_reads_them(pytester, monkeypatch, name):
    text = textwrap.dedent(YAML_VALUES[name])
    path = pytester.makefile(".yaml", **{f"test_{name}": text})
    expected = [doc for doc in yaml.load_all(text, Loader=yaml.SafeLoader) if doc is not None]
    starts = [node.start_mark.line for node in yaml.compose_all(text, Loader=yaml.SafeLoader)]
    if name == "plain":
        # Read by libyaml's events alone: PyYAML's loaders are out of reach.
        monkeypatch.delattr(yaml, "CSafeLoader", raising=False)
        monkeypatch.setattr(yaml, "SafeLoader", None)
    items = pytester.getitems(path)
    assert [item.case for item in items] == expected
    assert [item.location[1] for item in items] == starts
    if name == "plain":
        # Case data holding only values is left out of the cyclic collector's walks (the
        # cost of collecting large suites); data that refers to itself stays in them.
        assert not gc.is_tracked(items[0].case) and not gc.is_tracked(items[0].steps)
        loop_file = pytester.makefile(".yaml", test_loop="test_name: loop\n"
                                                         "steps: [{mock: &m [1, *m]}]\n")
        (loop,) = pytester.getitems(loop_file)
        looped = loop.steps[0]["mock"]
        assert looped[1] is looped and gc.is_tracked(looped) and gc.is_tracked(loop.steps)


def test_a_session_with_cases_keeps_its_collection_out_of_the_gc_passes(suite):
    # The test records whether the session's items are within the cyclic collector's reach
    # and whether a reference cycle its module made at collection is collected.
    suite.makepyfile(test_python="""
        import gc, weakref

        class Node:
            pass

        made = Node()
        made.me = made
        made_ref = weakref.ref(made)
        del made

        def test_records(request):
            tracked = {id(obj) for obj in gc.get_objects()}
            gc.collect()
            with open("gc.log", "a", encoding="utf-8") as log:
                items = [id(item) in tracked for item in request.session.items]
                log.write(repr((items, made_ref() is None)) + "\\n")
    """)
    suite.runpytest(*NO_STEP_RUNNER).assert_outcomes(passed=1)
    assert gc.get_freeze_count() == 0
    write_cases(suite, "test_cases.yaml", "test_name: a case\nsteps: [{a: 1}]\n")
    suite.runpytest(*NO_STEP_RUNNER).assert_outcomes(passed=2)
    # Frozen until the run's configuration was cleaned up.
    assert gc.get_freeze_count() == 0
    logged = (suite.path / "gc.log").read_text(encoding="utf-8").splitlines()
    assert [ast.literal_eval(line) for line in logged] == [([True], True), ([False, False], False)]
