#!/usr/bin/env bash
# Builds the suite (installing what it needs) and starts the controller against
# the built-in CP290 emulator, so the suite can be tried without hardware.
# The emulator keeps its memory in ~/.local/state/cp290-sim.state between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

state_dir="${XDG_STATE_HOME:-$HOME/.local/state}"
mkdir -p "$state_dir"
link="${XDG_RUNTIME_DIR:-/tmp}/cp290-demo-$(id -u)"
build/bin/cp290-sim --link "$link" --state "$state_dir/cp290-sim.state" --reports &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

export CP290_SERIAL_DEVICES="$link"
exec_status=0
build/bin/quorvel "$@" || exec_status=$?
exit "$exec_status"
