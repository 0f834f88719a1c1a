#!/usr/bin/env bash
# Builds kelvo-cli and the benchmark driver in Release and prints the
# figures. usage: bench/run.sh [--quick]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" >&2
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF \
    -DKELVO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target kelvo-cli kelvo_bench >/dev/null
echo "machine: $(nproc) cores, $(uname -sr), $(git --version)"
grep -m1 'model name' /proc/cpuinfo 2>/dev/null || true
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/bench/kelvo_bench" "$build/src/cli/kelvo-cli" "$scratch/run" "$@"
