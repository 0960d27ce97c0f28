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
