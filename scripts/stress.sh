#!/usr/bin/env bash
# The long runs of the reliability tests, from a Release build: SIGKILL at
# random moments (KELVO_STRESS_KILLS, default 200), eight processes at once
# (KELVO_STRESS_COMMANDS commands each, default 50), and every failing save
# step. Prints each test's figures. KELVO_STRESS_SEED replays a run;
# KELVO_STRESS_BUILD names the build directory (default build/stress).
# usage: scripts/stress.sh [gtest-filter]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" --test
build=${KELVO_STRESS_BUILD:-$root/build/stress}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target kelvo-cli kelvo_e2e_tests

export KELVO_STRESS_KILLS=${KELVO_STRESS_KILLS:-200}
export KELVO_STRESS_COMMANDS=${KELVO_STRESS_COMMANDS:-50}
filter=${1:-'CrashAtAnyMoment.*:Concurrency.*:EachStep/SaveFault.*:SaveShortWrite.*'}
echo "kills: $KELVO_STRESS_KILLS, commands per process: $KELVO_STRESS_COMMANDS"
log="$build/stress.log"
status=0
"$build/tests/e2e/kelvo_e2e_tests" --gtest_filter="$filter" \
    --gtest_output="xml:$build/stress.xml" >"$log" 2>&1 || status=$?
# The figures the tests print, then the verdict.
grep -E '^\[ (crash|commands|refused|strace) ' "$log" || true
grep -E '^\[  (PASSED|FAILED|SKIPPED) ' "$log" || true
if [[ $status -ne 0 ]]; then
    echo "failures (full log: $log):"
    grep -E -B2 -A12 'Failure$' "$log" | head -80
fi
exit "$status"
