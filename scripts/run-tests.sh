#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test: the unit and end-to-end
# tests (warnings are errors), the Windows build and its tests under Wine, then the native tests
# again under ASan+UBSan. Ends with CTest's own summary.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

jobs=$(nproc)
run_preset() {
    local preset=$1
    echo "=== $preset: configure, build, test ==="
    rm -rf "build/$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}

run_preset ci
# The Windows build (MinGW-w64) and its tests under Wine.
scripts/run-windows-tests.sh
run_preset asan
