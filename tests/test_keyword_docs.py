"""The README's keyword reference is generated from the keyword documentation and must match it."""

import importlib.util
from pathlib import Path

from lumox.actlib import KeyWord

ROOT = Path(__file__).resolve().parent.parent


def load_generator():
    loader_spec = importlib.util.spec_from_file_location(
        "gen_keyword_docs", ROOT / "tools" / "gen_keyword_docs.py")
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


def test_keyword_reference_is_up_to_date():
    generator = load_generator()
    written = generator.written()
    assert written == generator.render(), (
        "README.md's keyword reference is out of date: run python3 tools/gen_keyword_docs.py")
    # Every keyword has its section, with its summary and each parameter's text.
    for name in KeyWord.all_keyword():
        assert f"#### `{name}`\n" in written
    assert "| D | `method` | text |  | 请求方法 |\n| E | `url` | text |  | 接口地址 |" in written
    assert "| D | `timeout` | seconds | `5.0` | 请求默认超时时间 |" in written


def test_documentation_lines_agree_with_the_parameter_kinds():
    generator = load_generator()
    wording = {"locator": "定位器", "variable name": "变量名", "file path": "路径"}
    for name in KeyWord.all_keyword():
        method = getattr(KeyWord, "key_" + name)
        summary, documented = generator.parse_doc(method.__doc__)
        assert set(method.param_kinds) == set(documented), name  # one line per parameter
        for param, kind in method.param_kinds.items():
            assert wording.get(kind, "") in documented[param], (name, param)
            # Copied lines once called an element an iframe, or a locator coordinates.
            if kind == "locator" and name != "frame_enter":
                assert "iframe" not in documented[param], (name, param)
        if "locator" in method.param_kinds and "x" not in method.param_kinds:
            assert "坐标" not in " ".join(summary), name
