#!/usr/bin/env bash
# Takes the README's pictures of the window: starts the real tolvex-update under a virtual X
# server (Xvfb) on a sample update file, with the device simulator standing in for FTDI's
# driver, and saves
#   docs/screenshots/idle.png      the window as it starts
#   docs/screenshots/transfer.png  the window in the middle of a transfer
# The click on the button is a real pointer click (xdotool); the program has no test hooks.
#
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/dev, configured with the dev
# preset when it does not exist yet)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh build screenshots

build=${1:-build/dev}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset dev >/dev/null
    build=build/dev
fi
cmake --build "$build" --target tolvex-update tvu-sample tolvex_sim_driver -j "$(nproc)"
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A file large enough that the transfer lasts a while at the simulator's real-time speed.
"$build/bin/tvu-sample" --payload 240000 "$work/tolvex-hardware-1.00C.tvu"

cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
# Runs inside xvfb-run: $1 build dir, $2 update file, $3 output folder.
set -euo pipefail
build=$1 file=$2 out=$3
LD_LIBRARY_PATH="$build/sim/driver" TOLVEX_SIM="erase_ms=1500" "$build/bin/tolvex-update" "$file" &
app=$!
trap 'kill "$app" 2>/dev/null || true' EXIT
window=$(xdotool search --sync --onlyvisible --name "Tolvex USB Ver. 1.00C" | head -n 1)
sleep 1  # let the first paint finish
import -window "$window" "$out/idle.png"

# Click the update button (134,88 232x65 in the window) and catch the transfer under way:
# erase takes 1.5 s, the transfer some 25 s more.
xdotool mousemove --window "$window" 250 120 click 1
sleep 5
import -window "$window" "$out/transfer.png"
SESSION
chmod +x "$work/session.sh"

mkdir -p "$root/docs/screenshots"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
    "$work/session.sh" "$build" "$work/tolvex-hardware-1.00C.tvu" "$work"
for shot in idle transfer; do
    convert "$work/$shot.png" -strip "$root/docs/screenshots/$shot.png"
    echo "screenshots: docs/screenshots/$shot.png ($(identify -format '%wx%h' "$root/docs/screenshots/$shot.png"))"
done
