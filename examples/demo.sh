#!/usr/bin/env bash
# Runs the demo suite: starts the demo service on loopback (and, when Node.js and the
# project's npm packages are there, an Appium server with its fake driver for the app
# workbook), runs the cases in this folder with pytest (lumox is enabled by installing
# it), builds the HTML report of the run with `lumox report`, then stops the servers.
# One line per phase, pytest's own lines, and a last line with the verdict.
set -uo pipefail
cd "$(dirname "$0")"
PYTHON=${PYTHON:-python3}
PORT=8765

APPIUM_PORT=4723
APPIUM=../node_modules/.bin/appium

wait_for() {
    for _ in $(seq "$2"); do
        "$PYTHON" -c "import urllib.request; urllib.request.urlopen('$1')" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "!!! nothing answers at $1" >&2
    return 1
}

echo "==> starting the demo service on 127.0.0.1:$PORT"
"$PYTHON" service.py --port "$PORT" >/dev/null &
service=$!
appium=""
trap 'kill "$service" $appium 2>/dev/null || true' EXIT

skip_app=()
if command -v node >/dev/null && [ -x "$APPIUM" ]; then
    echo "==> starting Appium with its fake driver on 127.0.0.1:$APPIUM_PORT (log: examples/appium.log)"
    # Started directly, not through npx, so that $appium is the server's own PID.
    APPIUM_HOME=.. "$APPIUM" server --address 127.0.0.1 --port "$APPIUM_PORT" \
        --use-plugins=lumox-emulator --log-level error >appium.log 2>&1 &
    appium=$!
else
    echo "==> skipping test_06_app.xlsx: no Node.js or no Appium in node_modules (run npm ci)"
    skip_app=(--ignore=test_06_app.xlsx)
fi

wait_for "http://127.0.0.1:$PORT/api/health" 50 || exit 1
if [ -n "$appium" ]; then
    wait_for "http://127.0.0.1:$APPIUM_PORT/status" 200 || exit 1
fi

echo "==> running the demo cases with pytest"
rm -f .vars.yaml
color=()
[ -t 1 ] && color=(--color=yes)
pytest_log=$(mktemp)
"$PYTHON" -m pytest "${color[@]}" "${skip_app[@]}" "$@" | tee "$pytest_log"
status=${PIPESTATUS[0]}
# pytest's closing line, without its colours and rules: "13 passed, 1 xfailed in 9.87s".
counts=$(tail -n 1 "$pytest_log" | sed 's/\x1b\[[0-9;]*m//g; s/^=* *//; s/ *=*$//')
rm -f "$pytest_log"

echo "==> building the HTML report with lumox report (log: examples/report.log)"
if ! "$PYTHON" -m lumox report >report.log 2>&1; then
    cat report.log >&2
    echo "!!! the HTML report could not be built (see above)" >&2
    [ "$status" -eq 0 ] && status=1
fi

if [ "$status" -eq 0 ]; then
    verdict="demo passed"
else
    verdict="demo FAILED (pytest exit status $status)"
fi
echo "$verdict: $counts; HTML report: examples/report/index.html (serve it with: lumox report -s);" \
    "saved variables: examples/.vars.yaml"
exit "$status"
