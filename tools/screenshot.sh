#!/usr/bin/env bash
# Starts Corvalen under a virtual X server and saves PNGs of both windows
# (main.png, results.png) and of each tab of a corpus workbench (workbench-wordlist.png,
# workbench-concordance.png, workbench-plot.png, workbench-fileview.png) so that anyone can look
# at the layout.
# Usage: tools/screenshot.sh [output folder]   (BUILD_DIR selects the build, default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$(mkdir -p "${1:-$root/screenshots}" && cd "${1:-$root/screenshots}" && pwd)

"$root/tools/install-deps.sh" --screenshots
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target corvalen -j2

pictures=(main.png results.png workbench-wordlist.png workbench-concordance.png workbench-plot.png workbench-fileview.png)
for f in "${pictures[@]}"; do rm -f "$out/$f"; done
# A settings folder of its own, so that the pictures show the default options.
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
XDG_CONFIG_HOME="$settings" CORVALEN_SCREENSHOTS="$out" QT_QPA_PLATFORM=xcb \
    timeout 60 xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/corvalen"
for f in "${pictures[@]}"; do
    [ -s "$out/$f" ] || { echo "screenshot: $f was not written" >&2; exit 1; }
done
echo "Saved ${pictures[*]} in $out"
