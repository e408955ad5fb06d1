#!/usr/bin/env bash
# Records the short demonstration video that "Watch Old Demo Video" opens: the real program
# under a virtual X server, driven by xdotool, filmed by ffmpeg.
#   tools/record-demo.sh [output.webm]    (default app/data/Video/Corvalen Demo.webm)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/app/data/Video/Corvalen Demo.webm}
"$root/tools/install-deps.sh" --demo
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target corvalen

display=:$((90 + RANDOM % 9))
size=1024x640
work=$(mktemp -d)
cleanup() {
    kill "${app:-}" "${rec:-}" "${xvfb:-}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 ${size}x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=$display
# Settings of its own: the film shows the options a new user sees.
XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$build/bin/corvalen" >/dev/null 2>&1 &
app=$!
main=$(xdotool search --sync --onlyvisible --name '^Corvalen$' | head -n 1)
sleep 1
ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size $size -framerate 12 -i "$display" \
    -c:v libvpx-vp9 -b:v 150k -deadline realtime -cpu-used 8 "$work/demo.webm" &
rec=$!
sleep 1.5

click() { xdotool mousemove --window "$1" "$2" "$3" sleep 0.4 click 1; }
# Help > Load Sample/Example File, then No to opening the folder.
xdotool windowfocus --sync "$main" key alt+h
sleep 0.6
xdotool key Down sleep 0.4 key Return
sleep 1.2
xdotool key Escape
sleep 2
# Start Analyzing: per-file counts with file names.
click "$main" 357 60
sleep 3.5
results=$(xdotool search --onlyvisible --name '^Corvalen$' | head -n 1)
xdotool mousemove --window "$results" 300 250 sleep 0.3 click 5 click 5 click 5 click 5
sleep 1.5
# Back, then one count for all files.
click "$results" 54 45
sleep 1.5
click "$main" 95 124
sleep 1
click "$main" 60 169
sleep 1.5
click "$main" 357 60
sleep 4
kill -INT "$rec"
wait "$rec" || true
mkdir -p "$(dirname "$out")"
cp "$work/demo.webm" "$out"
echo "Saved $out ($(stat -c %s "$out") bytes)"
