#!/usr/bin/env bash
# Installs what is needed, builds Velmora against the bundled demo album site,
# starts the site on loopback and opens the program on it. Closing the window
# stops the site again. The program's working folder (cfg.ini, the address
# history) is build/demo-run/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD_DIR:-$root/build}
# shellcheck source=demo_hosts.sh
source "$root/scripts/demo_hosts.sh"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run-demo: no display; start this from a desktop session (or under xvfb-run)" >&2
  exit 1
fi

bash "$root/scripts/setup.sh"
VELMORA_BUILD_DIR=$build bash "$root/scripts/build.sh"

"$build/velmora-demo-site" --port "$VELMORA_DEMO_PORT" &
site=$!
trap 'kill $site 2>/dev/null; wait $site 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  curl -s -o /dev/null "http://$VELMORA_DEMO_UPDATE_HOST/quillbay/velmoraget/banner.htm" && break
  sleep 0.1
done

echo "Demo album site on http://$VELMORA_DEMO_ALBUM_HOST/ - try the address:"
echo "  http://$VELMORA_DEMO_ALBUM_HOST/photos/alice/albums/"
mkdir -p "$build/demo-run"
cd "$build/demo-run"
"$build/velmora"
