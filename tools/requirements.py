"""Prints what lumox needs, as read from pyproject.toml, one requirement per line: its build
tools, its dependencies and those of the extras named on the command line
(``python3 tools/requirements.py test``).

The Makefile installs them the normal way, each built in isolation where it comes as a
source distribution, before it builds lumox itself without isolation for fast rebuilds.
"""

import sys
import tomllib
from pathlib import Path

PYPROJECT = Path(__file__).resolve().parent.parent / "pyproject.toml"


def main(extras):
    pyproject = tomllib.loads(PYPROJECT.read_text(encoding="utf-8"))
    project = pyproject["project"]
    optional = project.get("optional-dependencies", {})
    unknown = [name for name in extras if name not in optional]
    if unknown:
        sys.exit(f"no such extra in {PYPROJECT}: {', '.join(unknown)}")
    build = pyproject["build-system"]["requires"]
    lines = [*build, *project["dependencies"], *(req for name in extras for req in optional[name])]
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1:])
