#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60), printing executions per second and in total.
# usage: scripts/fuzz.sh [seconds-per-target] [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" --test
seconds=${1:-60}
shift || true
build="$root/build/fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVO_BUILD_TESTS=OFF -DKELVO_FUZZ=ON >/dev/null
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    mapfile -t targets < <(sed -n 's/^kelvo_fuzz_target(\([a-z_]*\).*/\1/p' "$root/fuzz/CMakeLists.txt")
fi
cmake --build "$build" --target "${targets[@]}"
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus"
    seeds="$root/fuzz/seeds/$t"
    log="$build/$t.log"
    "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus" \
        $( [[ -d $seeds ]] && echo "$seeds" ) >"$log" 2>&1 || { tail -40 "$log"; exit 1; }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$t: $runs executions in ${seconds}s, $rate exec/s"
done
