#!/usr/bin/env bash
# Runs the demo suite: starts the demo service on loopback (and, when Node.js and the
# project's npm packages are there, an Appium server with its fake driver for the app
# workbook), runs the cases in this folder with pytest (lumox is enabled by installing
# it), builds the HTML report of the run with `lumox report`, then stops the servers.
set -euo pipefail
cd "$(dirname "$0")"
PYTHON=${PYTHON:-python3}
PORT=8765

APPIUM_PORT=4723
APPIUM=../node_modules/.bin/appium

"$PYTHON" service.py --port "$PORT" &
service=$!
appium=""
trap 'kill "$service" $appium 2>/dev/null || true' EXIT

skip_app=()
if command -v node >/dev/null && [ -x "$APPIUM" ]; then
    # Started directly, not through npx, so that $appium is the server's own PID.
    APPIUM_HOME=.. "$APPIUM" server --address 127.0.0.1 --port "$APPIUM_PORT" \
        --use-plugins=lumox-emulator --log-level error >appium.log 2>&1 &
    appium=$!
else
    echo "skipping test_06_app.xlsx: no Node.js or no Appium in node_modules (run npm ci)"
    skip_app=(--ignore=test_06_app.xlsx)
fi

for _ in $(seq 50); do
    "$PYTHON" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$PORT/api/health')" \
        2>/dev/null && break
    sleep 0.1
done

if [ -n "$appium" ]; then
    for _ in $(seq 100); do
        "$PYTHON" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$APPIUM_PORT/status')" \
            2>/dev/null && break
        sleep 0.2
    done
fi

rm -f .vars.yaml
"$PYTHON" -m pytest "${skip_app[@]}" "$@"
echo "saved variables (.vars.yaml):"
cat .vars.yaml
"$PYTHON" -m lumox report
echo "HTML report: examples/report/index.html (serve it with: lumox report -s)"
