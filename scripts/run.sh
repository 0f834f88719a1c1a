#!/usr/bin/env bash
# Installs what is missing, builds kelvo-cli in Release and runs it with the
# given arguments (default: --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" >&2
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKELVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target kelvo-cli >/dev/null
[[ $# -gt 0 ]] || set -- --help
exec "$root/build/release/src/cli/kelvo-cli" "$@"
