#!/usr/bin/env bash
# Installs what is missing, builds Release into build/ and starts Corvalen.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
exec build/bin/corvalen "$@"
