#!/usr/bin/env bash
# Optional real-host check (not part of CI): opens Tarvelon Free's editor in
# Ardour's GUI under Xvfb (JACK with its dummy driver for audio), takes a
# screenshot, drags a band point with synthetic input and takes another.
# The pointer positions are those of Ardour 7.3's windows on a 1600×1000
# screen. Output: OUT_DIR (default /tmp/tarvelon-ardour-shots)/{editor,dragged}.png
set -euo pipefail
cd "$(dirname "$0")/.."
out=${OUT_DIR:-/tmp/tarvelon-ardour-shots}
scripts/install-deps
scripts/install-packages ardour jackd2 xdotool imagemagick xvfb
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVELON_TESTS=OFF >/dev/null
cmake --build build/release --target tarvelon_koppel_plugin

# Everything the host writes (the session and its autosaves, its settings,
# its plug-in cache, the plug-in's preferences) and the installed bundle stay
# in a temporary home that goes away afterwards.
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
mkdir -p "$out" "$HOME" "$work/config/ardour7"
touch "$work/config/ardour7/.a7"  # no first-run wizard
cmake --install build/release >/dev/null
LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner -f "$HOME/.vst3/Tarvelon Free.vst3" >/dev/null
ardour7-lua scripts/ardour/make_editor_session.lua "$work/session" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; exit 1; }

n=$(for d in $(seq 60 89); do [ -e "/tmp/.X$d-lock" ] || { echo "$d"; break; }; done)
Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=":$n"
jackd -n "tarvelon$n" -r -d dummy -r 48000 -p 1024 >"$work/jack.log" 2>&1 & pids+=($!)
export JACK_DEFAULT_SERVER="tarvelon$n"
sleep 2
ardour -n "$work/session/editor.ardour" >"$work/ardour.log" 2>&1 & pids+=($!)
click() { xdotool mousemove "$1" "$2" click "${3:-1}"; sleep "${4:-2}"; }
sleep 20
click 971 539 1 6      # OK on "Engine I/O device has changed"
click 806 358          # Audio System list
click 760 380 1 3      # JACK
click 1087 660 1 15    # Connect to JACK
click 1326 73 1 4      # the Mixer
xdotool mousemove 334 206 click --repeat 2 --delay 80 1  # double click on the plug-in: its editor
sleep 6
import -window root "$out/editor.png"
xdotool mousemove 375 300; sleep 0.3; xdotool mousedown 1
for i in $(seq 1 10); do xdotool mousemove 375 $((300 - 8 * i)); sleep 0.05; done
xdotool mouseup 1; sleep 1; xdotool mousemove 700 200; sleep 1
import -window root "$out/dragged.png"
echo "screenshots: $out/editor.png $out/dragged.png"
grep -iE "tarvelon|segmentation|abort" "$work/ardour.log" || true
