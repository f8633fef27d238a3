#!/usr/bin/env bash
# Builds the tool and starts it. With no serial adapter present (or with
# --sim) it starts the simulated module on a pseudo-terminal as COM1.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-run"
use_sim=0
[ "${1:-}" = "--sim" ] && use_sim=1

"$here/scripts/deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKC_BUILD_TESTS=OFF -DKC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target kc4420-tool kc4420-sim >/dev/null

adapters=$(ls /dev/ttyUSB* /dev/ttyACM* 2>/dev/null || true)
if [ -z "${KC4420_COM1:-}" ] && [ -z "$adapters" ]; then
  use_sim=1
fi

sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ "$use_sim" = 1 ]; then
  link="${XDG_RUNTIME_DIR:-/tmp}/kc4420-sim-$$"
  "$build/sim/kc4420-sim" --link "$link" >/dev/null &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  export KC4420_COM1="$link"
  echo "No serial adapter in use: COM1 is the simulated module at $(readlink -f "$link")."
else
  for dev in ${KC4420_COM1:-} $adapters; do
    if [ -e "$dev" ] && ! { [ -r "$dev" ] && [ -w "$dev" ]; }; then
      echo "$dev exists but you may not open it: see \"Serial ports on Linux\" in README.md (dialout group)."
      break
    fi
  done
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop display found: running under Xvfb."
  xvfb-run -a "$build/app/kc4420-tool"
else
  "$build/app/kc4420-tool"
fi
