#!/usr/bin/env bash
# Cross-compiles the Windows build with MinGW-w64 (preset `mingw`) and runs its tests under
# Wine: the unit tests, the command line's end-to-end tests with the simulator as FTD2XX.DLL,
# and the Windows-only tests (safe DLL search, non-ANSI paths, share-read lock).
# The Qt window is not part of this build (Debian has no Qt for Windows).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh windows

# Wine's own state lives under build/ and is kept between runs: only the first run pays for
# creating it. It must match the test preset's WINEPREFIX.
export WINEPREFIX="$PWD/build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINELOADER="$wine64"
export WINESERVER="$wineserver"

mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== mingw: creating the Wine prefix (first run only) ==="
    "$wine64" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
fi
# One persistent server for the whole run; otherwise every Windows process would start and
# stop its own and pay for it in seconds. (It exits with 2 when one already serves the prefix,
# e.g. after an interrupted run; that one is used and stopped at the end.)
"$wineserver" -p || [ $? -eq 2 ]
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
# The first Windows program in a session starts Wine's background services (services.exe,
# winedevice.exe, ...), which live as long as the server and inherit that program's output.
# Were that a test, CTest would wait for the test's output to close until they die; so start
# them here, with their output going nowhere.
"$wine64" wineboot </dev/null >/dev/null 2>&1

jobs=$(nproc)
echo "=== mingw: configure, build, test (Windows x64 under Wine) ==="
rm -rf build/mingw
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
ctest --preset mingw -j "$jobs"
