"""Each fact is declared once in the code; the loader, the JSON Schema, the packaged pytest.ini
and the generated references all follow that one declaration."""

import importlib.util
import inspect
import json
import os
import re
import subprocess
import sys
from pathlib import Path

from lumox import settings, yaml_cases
from lumox.actlib import KeyWord

ROOT = Path(__file__).resolve().parent.parent


def load_generator():
    loader_spec = importlib.util.spec_from_file_location("generate", ROOT / "tools" / "generate.py")
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


def test_generated_files_are_current():
    stale = load_generator().stale()
    assert not stale, f"out of date: {', '.join(stale)}: run make generated"


def test_case_keys_drive_the_loader_the_schema_and_the_reference(tmp_path):
    schema = yaml_cases.case_schema()
    reference = (ROOT / "docs" / "reference" / "case-format.md").read_text(encoding="utf-8")
    mappings = {
        "case": schema,
        "step": schema["definitions"]["step"],
        "request": schema["definitions"]["request"]["anyOf"][1],
        "response": schema["definitions"]["response"]["anyOf"][1],
    }
    sections = yaml_cases.case_format()
    assert [section["name"] for section in sections] == list(mappings)
    for section in sections:
        mapping = mappings[section["name"]]
        assert list(mapping["properties"]) == [key["name"] for key in section["keys"]]
        assert mapping.get("required", []) == [k["name"] for k in section["keys"] if k["required"]]
        for key in section["keys"]:
            written = mapping["properties"][key["name"]]
            if "$ref" in written:  # the definition it names carries the meaning
                written = schema["definitions"][written["$ref"].rsplit("/", 1)[1]]
            assert written["description"] == key["meaning"], key["name"]
            row = f"| `{key['name']}` | {'yes' if key['required'] else ''} |"
            assert row in reference, row
    # The loader knows every declared key: a typo of any of them is caught and named.
    misspelt = {
        "case": "test_name: c\nmarkss: []\nparameterss: []\nsteps: []\n",
        "step": "test_name: c\nsteps:\n  - {%s}\n",
        "request": "test_name: c\nsteps:\n  - request: {method: GET, url: /, %s}\n",
        "response": "test_name: c\nsteps:\n  - response: {%s}\n",
    }
    documents = [misspelt["case"]]
    for section in sections[1:]:
        documents += [misspelt[section["name"]] % f"{key['name'] + key['name'][-1]}: 1"
                      for key in section["keys"] if not key["required"]]
    (tmp_path / "test_typos.yaml").write_text("---\n".join(documents), encoding="utf-8")
    checked = subprocess.run([sys.executable, "-m", "lumox", "check", "test_typos.yaml"],
                             capture_output=True, text=True, cwd=tmp_path).stdout
    for section in sections:
        for key in section["keys"]:
            if not key["required"]:
                assert f"did you mean '{key['name']}'?" in checked, (section["name"], key)
    # `lumox schema` prints the schema collection checks with.
    printed = subprocess.run([sys.executable, "-m", "lumox", "schema"], capture_output=True,
                             text=True, check=True).stdout
    assert json.loads(printed) == schema
    # What callers do with their copy leaves the schema collection checks with alone.
    del schema["definitions"]["step"]["properties"]["mock"]
    assert "mock" in yaml_cases.case_schema()["definitions"]["step"]["properties"]


def test_setting_table_drives_defaults_the_ini_template_and_the_reference(tmp_path):
    reference = (ROOT / "docs" / "reference" / "settings.md").read_text(encoding="utf-8")
    template = settings.pytest_ini_template()
    env = {name: value for name, value in os.environ.items() if not name.startswith("LUMOX")}
    # The defaults a project without pytest.ini gets, read in a process of its own.
    loaded = subprocess.run(
        [sys.executable, "-c", "from lumox import settings\n"
         "for row in settings.setting_table():\n"
         "    print(row['key'], repr(getattr(getattr(settings, row['section']), row['key'])))"],
        capture_output=True, text=True, check=True, env=env, cwd=tmp_path,
    ).stdout.splitlines()
    values = dict(line.split(" ", 1) for line in loaded)
    for row in settings.setting_table():
        default, key = row["default"], row["key"]
        assert f"`{row['environment']}`" in reference and f"| `{key}` |" in reference
        assert f"\n{key} = {default}".rstrip() + "\n" in template, key
        shown = values[key].strip("'")
        if re.fullmatch(r"[\d.]+", default):
            assert float(shown) == float(default), (key, shown)
        elif default in ("true", "false"):
            assert shown == default.capitalize(), (key, shown)
        elif row["accepts"] == "a text":
            assert shown == default, (key, shown)


def test_keyword_declarations_drive_signature_doc_kinds_and_reference():
    reference = (ROOT / "docs" / "reference" / "keywords.md").read_text(encoding="utf-8")
    wording = {"locator": "定位器", "variable name": "变量名", "file path": "路径"}
    for name in KeyWord.all_keyword():
        method = getattr(KeyWord, "key_" + name)
        declared = method.declaration
        params = declared["params"]
        signature = [p for p in inspect.signature(method).parameters.values()
                     if p.name != "self" and p.kind is p.POSITIONAL_OR_KEYWORD]
        assert [p.name for p in signature] == [param["name"] for param in params], name
        for param, shown in zip(params, signature, strict=True):
            assert (shown.default is shown.empty) == param["required"], (name, param["name"])
            if not param["required"]:
                assert shown.default == param["default"], (name, param["name"])
            assert method.param_kinds[param["name"]] == param["kind"]
            assert f":param {param['name']}: {param['doc']}" in method.__doc__
            assert wording.get(param["kind"], "") in param["doc"], (name, param["name"])
            # Copied lines once called an element an iframe, or a locator coordinates.
            if param["kind"] == "locator" and name != "frame_enter":
                assert "iframe" not in param["doc"], (name, param["name"])
        if "locator" in method.param_kinds and "x" not in method.param_kinds:
            assert "坐标" not in declared["summary"], name
        assert f"#### `{name}`\n" in reference
    assert "| D | `method` | text |  | 请求方法 |\n| E | `url` | text |  | 接口地址 |" in reference
    assert "| D | `timeout` | seconds | `5.0` | 请求默认超时时间 |" in reference
    assert "| D | `times` | whole number | `3` | 最多尝试次数 |" in reference
