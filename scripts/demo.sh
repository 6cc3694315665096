#!/usr/bin/env bash
# Demo: installs what is missing, builds (Release, -O1), starts a virtual navigator with its sample
# points in a temporary device directory and imports the points from it: in the window when a
# display is available, otherwise with caddora-cli. Stops the virtual navigator at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

# Its own folder: the demo's settings must not leak into the release preset's build-release.
build=build-demo
gui=OFF
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then gui=ON; fi

# Only what building and running needs, not the test tools; the window's Qt only when there is
# a display to show it on.
if [ "$gui" = ON ]; then
    bash scripts/install-deps.sh build
else
    bash scripts/install-deps.sh cli
fi

# Optimised at -O1: a first build of the programs takes about half the time it takes at -O3,
# and a demo's few points need no more speed.
echo "=== building ($build, Release at -O1)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELEASE=-O1 -DNDEBUG" -DCADDORA_GUI=$gui -DCADDORA_TESTS=OFF \
    -DCADDORA_BENCH=OFF >/dev/null
targets=(caddora-sim caddora-cli)
[ "$gui" = ON ] && targets+=(caddora)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/caddora-demo-XXXXXX")
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid"
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

export CADDORA_DEVICE_DIR=$work/dev
# The virtual navigator takes the repository's stand-in device images.
export CADDORA_ALLOW_STAND_IN=1
mkdir -p "$CADDORA_DEVICE_DIR"

echo "=== starting the virtual navigator (boot loader, sample points) in $CADDORA_DEVICE_DIR"
"$build/bin/caddora-sim" --mode boot --sample-points >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do
    grep -q '^ready$' "$work/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.err" >&2; exit 1; }
    sleep 0.1
done
grep -q '^ready$' "$work/sim.out" || { echo "the virtual navigator did not start" >&2; exit 1; }
"$build/bin/caddora-cli" devices

if [ "$gui" = ON ]; then
    echo "=== the window: click the picture button on the first tab to import the points"
    echo "    (the CSV file lands beside the program, in $repo/$build/bin)"
    "$build/bin/caddora"
    csv=$(ls -t "$build"/bin/*.csv 2>/dev/null | head -n 1 || true)
else
    echo "=== no display: importing the points with caddora-cli"
    out="$repo/$build/points"
    mkdir -p "$out"
    (cd "$out" && "$repo/$build/bin/caddora-cli" import-points)
    csv=$(ls -t "$out"/*.csv | head -n 1)
fi

if [ -n "${csv:-}" ]; then
    echo "=== the CSV file: $(realpath "$csv")"
    head -n 4 "$csv"
else
    echo "=== no CSV file was written"
fi
