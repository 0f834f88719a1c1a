#!/usr/bin/env bash
# Installs what is missing, builds everything in Release and runs every test.
# With --sanitize: a separate build with address and undefined-behaviour
# sanitizers (no recovery) instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" --test
build="$root/build/test"
flags=(-DCMAKE_BUILD_TYPE=Release)
if [[ "${1:-}" == "--sanitize" ]]; then
    build="$root/build/sanitize"
    # -O1 and line tables only: readable reports at half the compile time.
    flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DKELVO_SANITIZE=ON)
fi
cmake -S "$root" -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
