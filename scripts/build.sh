#!/usr/bin/env bash
# Configures and builds Velmora into build/ (or $VELMORA_BUILD_DIR) against the
# bundled demo site on loopback. Extra arguments go to CMake's configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD_DIR:-$root/build}
# shellcheck source=demo_hosts.sh
source "$root/scripts/demo_hosts.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_ALBUM_SITE_HOST="$VELMORA_DEMO_ALBUM_HOST" \
  -DVELMORA_UPDATE_SITE_HOST="$VELMORA_DEMO_UPDATE_HOST" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
