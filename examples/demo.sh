#!/usr/bin/env bash
# Runs the demo suite: starts the demo service on loopback, runs the cases in this
# folder with pytest (lumox is enabled by installing it), builds the HTML report of the
# run with `lumox report`, then stops the service.
set -euo pipefail
cd "$(dirname "$0")"
PYTHON=${PYTHON:-python3}
PORT=8765

"$PYTHON" service.py --port "$PORT" &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT

for _ in $(seq 50); do
    "$PYTHON" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$PORT/api/health')" \
        2>/dev/null && break
    sleep 0.1
done

rm -f .vars.yaml
"$PYTHON" -m pytest "$@"
echo "saved variables (.vars.yaml):"
cat .vars.yaml
"$PYTHON" -m lumox report
echo "HTML report: examples/report/index.html (serve it with: lumox report -s)"
