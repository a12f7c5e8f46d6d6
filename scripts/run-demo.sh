#!/usr/bin/env bash
# The demo run: installs what is missing, builds the release preset, writes a sample update
# file and flashes it with tolvex-flash to the simulated device at real-time line speed (a few
# seconds; on a terminal with the progress line). Then says how to open the window on the
# same file and how to use a real FTDI driver and device. Exits with tolvex-flash's code.
#
# Usage: scripts/run-demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh build

echo "=== Building the release preset ==="
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

bin=$root/build/release/bin
driver=$root/build/release/sim/driver
demo=$root/build/release/demo
sample=$demo/sample.tvu
mkdir -p "$demo"

# 60000 payload bytes take about 7 s at 500000 baud with the device's acknowledgements.
"$bin/tvu-sample" --payload 60000 "$sample"
echo
echo "=== Flashing $sample to the simulated device ==="
echo "tolvex-flash finds the simulated driver (libftd2xx.so) through LD_LIBRARY_PATH=$driver"
echo
set +e
env -u TOLVEX_SIM LD_LIBRARY_PATH="$driver" "$bin/tolvex-flash" "$sample"
code=$?
set -e
echo
echo "tolvex-flash exited with code $code (tolvex-flash --help lists the codes)."

cat <<EOT

=== Next steps ===
The window, on a machine with a display, on the same file and the same simulated device:
    LD_LIBRARY_PATH=$driver $bin/tolvex-update $sample

Only check a file, without any hardware:
    $bin/tolvex-flash --info $sample

A real device, with FTDI's D2XX driver instead of the simulator:
  1. Install FTDI's libftd2xx for Linux: copy libftd2xx.so* to /usr/local/lib and run
     'sudo ldconfig' (or set LD_LIBRARY_PATH to the folder that holds it, never to
     $driver).
  2. Give your user access to the device: a udev rule such as
         SUBSYSTEM=="usb", ATTRS{idVendor}=="0403", MODE="0666"
     in /etc/udev/rules.d/99-ftdi.rules, then 'sudo udevadm control --reload-rules' and replug.
  3. Keep the kernel's ftdi_sio driver off the device: 'sudo rmmod ftdi_sio'.
  4. Flash, with diagnostics if anything goes wrong:
         $bin/tolvex-flash -v FILE.tvu
EOT
exit "$code"
