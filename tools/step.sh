#!/usr/bin/env bash
# Runs one long setup step with its output in a log file: a line when it starts, a line with
# its time when it ends, and the end of the log with the log's path when it fails.
#   tools/step.sh LOG "what is done (a hint)" command [arguments...]
# The closing line repeats what was done without the hint, so that steps running side by
# side can be told apart.
set -uo pipefail
log=$1 what=$2
shift 2
mkdir -p "$(dirname "$log")"
echo "==> $what (log: $log)"
start=$SECONDS
if "$@" >"$log" 2>&1; then
    echo "    done in $((SECONDS - start)) s: ${what%% (*}"
else
    status=$?
    echo "!!! failed after $((SECONDS - start)) s: $what (exit status $status); the end of $log:" >&2
    tail -n 30 "$log" | sed 's/^/    /' >&2
    echo "!!! whole log: $log" >&2
    exit "$status"
fi
