"""Writes src/lumox/file/pytest.ini.txt, the pytest.ini that `lumox run` creates in a new
project, from the settings table itself (lumox.settings.pytest_ini_template()), so every
setting appears with its default and meaning and nothing is written twice.

Run from the repository root after changing a setting: ``python3 tools/gen_pytest_ini.py``.
``--check`` only compares and exits with status 1 when the file is out of date.
"""

import sys
from pathlib import Path

from lumox import settings

OUTPUT = Path(__file__).resolve().parent.parent / "src" / "lumox" / "file" / "pytest.ini.txt"


def main(argv):
    text = settings.pytest_ini_template()
    if "--check" in argv:
        if not OUTPUT.exists() or OUTPUT.read_text(encoding="utf-8") != text:
            print(f"{OUTPUT} is out of date: run python3 tools/gen_pytest_ini.py")
            return 1
        return 0
    OUTPUT.write_text(text, encoding="utf-8")
    print(f"wrote {OUTPUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
