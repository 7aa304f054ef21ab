#!/usr/bin/env bash
# Runs one test program of a sanitizer build so that a report in any process
# it starts (the program, the collector, the simulator) fails it: every
# process writes its reports under REPORTS (log_path, inherited through the
# environment), and any report found there afterwards fails the test.
#   checked.sh REPORTS TEST [ARGS...]
set -uo pipefail
reports=$1
shift
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:log_path=$reports/report"
export TSAN_OPTIONS="${TSAN_OPTIONS:-}:log_path=$reports/report"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:log_path=$reports/report"
"$@"
status=$?
found=0
for report in "$reports"/report*; do
    [ -e "$report" ] || continue
    found=1
    echo "=== sanitizer report of a process this test started: $report"
    cat "$report"
done
if [ $found -ne 0 ]; then
    echo "FAIL: sanitizer reports above" >&2
    exit 1
fi
exit $status
