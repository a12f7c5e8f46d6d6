#!/usr/bin/env bash
# Installs the Debian 12 packages a build needs, only those that are missing.
# Usage: scripts/install-deps.sh [build|test|windows|screenshots]...
set -euo pipefail

want=(cmake ninja-build g++ make pkg-config)
for group in "$@"; do
    case "$group" in
        build) want+=(qt6-base-dev libgl-dev) ;;
        test) want+=(qt6-base-dev libgl-dev libgtest-dev libgmock-dev googletest fonts-dejavu-core) ;;
        windows) want+=(g++-mingw-w64-x86-64-posix googletest wine64 wine) ;;
        screenshots) want+=(qt6-base-dev libgl-dev xvfb xauth xdotool imagemagick fonts-dejavu-core) ;;
        *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
    esac
done

missing=()
for pkg in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
