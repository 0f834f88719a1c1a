#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only those missing.
set -euo pipefail

packages=(cmake ninja-build g++ git libcli11-dev nlohmann-json3-dev libgtest-dev libgmock-dev)
if [[ "${1:-}" == "--test" ]]; then
    # Fault injection and fuzzing in the test suite.
    packages+=(strace clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
