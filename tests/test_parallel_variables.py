"""The variables file under pytest-xdist: every process merges what it set, so a parallel
run saves what a serial run saves."""

import yaml

from test_step_runner import LOG_CONFTEST as PLUGIN_LOG_CONFTEST

CASE = """
test_name: extract variable {n}
steps:
  - request:
      method: POST
      url: /api/echo
      json: {{n: {n}}}
    extract:
      var_{n:02d}: [json, "$.json.n"]
"""

BEFORE = "kept: from an earlier run\nstatus: old\n"

LOG_CONFTEST = PLUGIN_LOG_CONFTEST + """
from lumox.templates import add_globals
add_globals(suite="set by conftest")  # set in every process, the controller too
"""


def test_serial_and_xdist_runs_save_every_variable_alike(pytester, http_service):
    pytester.makefile(".ini", pytest=f"""
        [pytest]
        [lumox]
        vars_file = vars.yaml
        vars_save = true
        [lumox_api]
        base_url = {http_service}
    """)
    pytester.makeconftest(LOG_CONFTEST)
    cases = {f"test_v{n:02d}": CASE.format(n=n) for n in range(1, 21)}
    # One case also changes a variable the file held before the run.
    cases["test_v07"] += '      status: [str, "set by case 7"]\n'
    pytester.makefile(".yaml", **cases)
    vars_file = pytester.path / "vars.yaml"

    saved = {}
    for workers in ("0", "2", "4"):
        vars_file.write_text(BEFORE, encoding="utf-8")
        # A save killed before its rename (kill -9) left its temporary file.
        (pytester.path / ".vars.yaml.tmp-0123456789ab").write_text(BEFORE[:9])
        (pytester.path / "plugin.log").unlink(missing_ok=True)

        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-n", workers)
        result.assert_outcomes(passed=20)
        saved[workers] = yaml.safe_load(vars_file.read_text(encoding="utf-8"))
        assert not [p.name for p in pytester.path.glob(".vars.yaml*")], workers
        log = (pytester.path / "plugin.log").read_text(encoding="utf-8")
        assert "INFO 保存变量文件成功: vars.yaml" in log and "出错" not in log

    expected = {"kept": "from an earlier run", "status": "set by case 7",
                "suite": "set by conftest"}
    expected.update({f"var_{n:02d}": n for n in range(1, 21)})
    assert saved["0"] == expected
    assert saved["2"] == expected
    assert saved["4"] == expected
