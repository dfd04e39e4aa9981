#!/usr/bin/env bash
# Optional real-host check (not part of CI): Qtractor loads the .clap on a new
# audio track under Xvfb (JACK with its dummy driver; a preloaded stand-in for
# the ALSA sequencer, which these kernels lack) and opens its editor; the
# script takes a screenshot, drags a band point with synthetic input and takes
# another. Pointer positions are those of Qtractor 0.9.31 on a 1600×1000 screen.
# Output: OUT_DIR (default /tmp/tarvelon-qtractor-shots)/{editor,dragged}.png
set -euo pipefail
cd "$(dirname "$0")/.."
out=${OUT_DIR:-/tmp/tarvelon-qtractor-shots}
scripts/install-deps
scripts/install-packages qtractor jackd2 xdotool imagemagick xvfb gcc
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVELON_TESTS=OFF >/dev/null
cmake --build build/release --target tarvelon_koppel_plugin

work=$(mktemp -d)
mkdir -p "$out" "$work/home/.clap"
cp "build/release/Tarvelon Free.clap" "$work/home/.clap/"
gcc -shared -fPIC -O2 -o "$work/alsa_seq_standin.so" scripts/qtractor/alsa_seq_standin.c
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

n=$(for d in $(seq 60 89); do [ -e "/tmp/.X$d-lock" ] || { echo "$d"; break; }; done)
Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=":$n" JACK_DEFAULT_SERVER="tarvelon$n"
jackd -n "tarvelon$n" -r -d dummy -r 48000 -p 1024 >"$work/jack.log" 2>&1 & pids+=($!)
sleep 2
# A home and working folder of their own: Qtractor's settings, its untitled
# session's auto-saves and the plug-in's preferences stay in the temporary
# folder, never in the repository.
(cd "$work" && HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
   XDG_DATA_HOME="$work/home/.local/share" CLAP_PATH="$work/home/.clap" \
   LD_PRELOAD="$work/alsa_seq_standin.so" qtractor >"$work/qtractor.log" 2>&1) & pids+=($!)
click() { xdotool mousemove "$1" "$2" click "${3:-1}"; sleep "${4:-2}"; }
sleep 12
click 98 8             # Track menu
click 141 30 1 3       # Add Track...
click 318 358 1 1      # Audio
click 379 228          # Plugins tab
click 673 262 1 4      # Add...
click 749 238          # plug-in type list
click 733 305 1 6      # CLAP
xdotool mousemove 339 280 click --repeat 2 --delay 80 1  # Tarvelon Free: added, its editor opens
sleep 5
import -window root "$out/editor.png"
xdotool mousemove 375 266; sleep 0.3; xdotool mousedown 1
for i in $(seq 1 10); do xdotool mousemove $((375 + 3 * i)) $((266 - 8 * i)); sleep 0.05; done
xdotool mouseup 1; sleep 1
import -window root "$out/dragged.png"
echo "screenshots: $out/editor.png $out/dragged.png"
grep -iE "tarvelon|clap|segmentation|abort" "$work/qtractor.log" || true
