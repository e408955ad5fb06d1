#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh --tests
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALEN_WERROR=$werror
cmake --build build
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j2
