#!/usr/bin/env bash
# Installs what is needed, builds Velmora and runs every test: unit tests,
# tests against loopback HTTP servers, the real window under Xvfb, and the
# download tests once more under ThreadSanitizer in a build of their own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_BUILD_DIR:-$root/build}
tsan_build=${VELMORA_TSAN_BUILD_DIR:-$build-tsan}
# shellcheck source=demo_hosts.sh
source "$root/scripts/demo_hosts.sh"

bash "$root/scripts/setup.sh"
VELMORA_BUILD_DIR=$build bash "$root/scripts/build.sh"

cmake -S "$root" -B "$tsan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DVELMORA_BUILD_BENCH=OFF \
  -DVELMORA_ALBUM_SITE_HOST="$VELMORA_DEMO_ALBUM_HOST" -DVELMORA_UPDATE_SITE_HOST="$VELMORA_DEMO_UPDATE_HOST" >/dev/null
cmake --build "$tsan_build" -j"$(nproc)" --target download_test download_names_test
for t in download_names_test download_test; do
  echo "== $t under ThreadSanitizer"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$tsan_build/tests/$t" --gtest_brief=1
done

# Every test of the normal build, last, so that its summary closes the run.
cd "$build"
ctest --output-on-failure -j2
