#!/usr/bin/env bash
# Installs what is needed, builds Velmora and runs every test (unit, loopback
# HTTP, and the real window under Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
VELMORA_BUILD_DIR=$build bash "$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j2
