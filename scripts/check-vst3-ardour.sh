#!/usr/bin/env bash
# Optional real-host check (not part of CI): builds and installs the VST 3
# bundle into a temporary home's ~/.vst3, lets Ardour's scanner index it, then
# runs check-vst3-ardour.lua headless with Ardour's dummy audio backend.
# Sessions, autosaves, settings and caches all stay in temporary folders.
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
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CACHE_HOME="$home/.cache" XDG_DATA_HOME="$home/.local/share"
cmake --install build/release >/dev/null
bundle="$HOME/.vst3/Tarvelon Free.vst3"
export LD_LIBRARY_PATH=/usr/lib/ardour7${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
/usr/lib/ardour7/ardour-vst3-scanner -f "$bundle"
# Each run gets a fresh configuration folder, so the plug-in's per-user
# settings (engine sizes among them) start at their defaults; Ardour finds our
# delay probe (a Lua DSP script) there too.
runs=${RUNS:-10}
failures=0
for run in $(seq 1 "$runs"); do
  work=$(mktemp -d)
  mkdir -p "$work/config/ardour7/scripts"
  cp scripts/ardour/tarvelon_probe.lua "$work/config/ardour7/scripts/"
  echo "== run $run of $runs =="
  set +e
  XDG_CONFIG_HOME="$work/config" ardour7-lua scripts/check-vst3-ardour.lua "$work/check" >"$work/log" 2>&1
  status=$?
  set -e
  grep -E "^(parameters|output|latency|Overall|PASS|FAIL)" "$work/log" || true
  if [ "$status" -ne 0 ] || ! grep -q "^PASS" "$work/log"; then
    echo "run $run: FAILED (exit status $status)"
    grep -iE "abort|corrupt|double free|segmentation" "$work/log" || true
    failures=$((failures + 1))
  fi
  rm -rf "$work"
done
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
