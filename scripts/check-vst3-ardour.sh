#!/usr/bin/env bash
# Optional real-host check (not part of CI): builds and installs the VST 3
# bundle into ~/.vst3, lets Ardour's scanner index it, then runs
# check-vst3-ardour.lua headless with Ardour's dummy audio backend.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps
if ! command -v ardour7-lua >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq ardour
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVELON_TESTS=OFF >/dev/null
cmake --build build/release --target tarvelon_koppel_plugin
cmake --install build/release >/dev/null
bundle="$HOME/.vst3/Tarvelon Free.vst3"
export LD_LIBRARY_PATH=/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
/usr/lib/ardour7/ardour-vst3-scanner -f "$bundle"
session=$(mktemp -d)/check
ardour7-lua scripts/check-vst3-ardour.lua "$session" 2>&1 | grep -E "^(  |parameters|output|Overall|PASS|FAIL)"
