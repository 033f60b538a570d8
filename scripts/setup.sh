#!/usr/bin/env bash
# Installs every Debian package Velmora needs to build, run and test.
# Idempotent and quiet: prints nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libwxgtk-webview3.2-dev libcurl4-openssl-dev libcpp-httplib-dev
  libgtest-dev libbenchmark-dev
  xvfb xdotool xclip imagemagick fonts-wqy-microhei libgl1-mesa-dri
  curl aria2 file perl libx11-dev libc-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $sudo apt-get update -qq -o DPkg::Lock::Timeout=600 &&
       $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "setup: installing ${missing[*]} failed" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"
