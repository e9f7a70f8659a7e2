#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated loader on a
# pseudo-terminal and opens the window against it. Without a display it
# writes the sample image from the terminal instead.
#   bash tools/run.sh            the simulated device at /tmp/tamrivo-sim
#   PORT=/dev/ttyUSB0 bash tools/run.sh   a real device: no simulator
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tamrivo tamrivo-cli tamrivo-loader-sim

bin=build/bin
port=${PORT:-}
sim_pid=""
if [ -z "$port" ]; then
    port=/tmp/tamrivo-sim
    "$bin/tamrivo-loader-sim" --link "$port" --baud 19200 >/dev/null &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
    echo "Simulated loader running; its port is $port"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): writing examples/sample.bine from the terminal."
    "$bin/tamrivo-cli" --port "$port" --baud 19200 write examples/sample.bine
    exit
fi

echo "In the window: type $port into the port box, choose 19200 and press Return,"
echo "accept the parameters, pick examples/sample.bine with ... and press the write button."
"$bin/tamrivo" >/dev/null
