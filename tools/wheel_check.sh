#!/usr/bin/env bash
# Installs the repaired wheel of dist/ into a new virtual environment outside the source
# tree, as a team would, and runs a YAML case file and a workbook of the demo with it
# against the demo service: the package, its native modules and the libraries bundled in
# the wheel must be all a run needs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${BASE_PYTHON:-python3}
shopt -s nullglob
wheels=("$root"/dist/lumox-*manylinux*.whl)
if [ ${#wheels[@]} -ne 1 ]; then
    echo "expected one manylinux wheel in $root/dist (run make wheel), found ${#wheels[@]}" >&2
    exit 1
fi

work=$(mktemp -d)
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; rm -rf "$work"' EXIT

echo "==> installing ${wheels[0]##*/} into a new environment in $work"
"$python" -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q --upgrade pip
"$work/venv/bin/python" -m pip install -q "${wheels[0]}"

# The cases run in a folder of their own: nothing of the source tree is importable there.
cases="$work/cases"
mkdir -p "$cases"
cp -r "$root/examples/test_01_login.yaml" "$root/examples/test_04_keywords.xlsx" \
    "$root/examples/data" "$cases/"
port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '[lumox_api]\nbase_url = http://127.0.0.1:%s\n' "$port" >"$cases/pytest.ini"
"$python" "$root/examples/service.py" --port "$port" &
service=$!

cd "$cases"
"$work/venv/bin/python" - "$work/venv" <<'PY'
import importlib, pathlib, subprocess, sys
import lumox
venv = pathlib.Path(sys.argv[1]).resolve()
# Each bundled library is loaded from the wheel's own copy, not from the machine.
for module_name, library in (("lumox.yaml_cases", "libyaml"), ("lumox.responses", "libpcre2-8")):
    module = pathlib.Path(importlib.import_module(module_name).__file__).resolve()
    assert venv in module.parents, f"{module_name} comes from {module}, not from {venv}"
    linked = subprocess.run(["ldd", str(module)], capture_output=True, text=True, check=True).stdout
    lines = [line for line in linked.splitlines() if library in line]
    assert lines and all(str(venv) in line for line in lines), f"{library} is not the wheel's own:\n{linked}"
print(f"    lumox {lumox.__version__} from {module.parent}, libyaml and libpcre2 from the wheel")
PY
for _ in $(seq 50); do
    "$python" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/api/health')" \
        2>/dev/null && break
    sleep 0.1
done
echo "==> running test_01_login.yaml and test_04_keywords.xlsx with the installed lumox"
"$work/venv/bin/lumox" run -q -p no:cacheprovider -W error
