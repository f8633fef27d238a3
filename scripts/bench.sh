#!/usr/bin/env bash
# Builds the benchmarks in Release and runs every one of them; each prints its
# figures as one line of name=value pairs. A full run takes about thirty-five minutes;
# leave the machine otherwise idle. docs/PERFORMANCE.md says what each line means.
#
#   ./scripts/bench.sh            full run
#   ./scripts/bench.sh --quick    every bench for a few seconds: checks they work,
#                                 the figures mean little
#
# KC_BENCH_BUILD_DIR picks the build folder (default build-bench/ in the clone);
# KC_BENCH_SKIP_DEPS=1 skips installing packages.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KC_BENCH_BUILD_DIR:-$here/build-bench}
quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi

if [ -z "${KC_BENCH_SKIP_DEPS:-}" ]; then
  "$here/scripts/deps.sh"
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKC_BUILD_TESTS=OFF -DKC_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kc4420-sim bench_wire_limits bench_micro \
  bench_window bench_upload_log bench_cold_start bench_cli bench_scan bench_monitor bench_traffic_log \
  bench_line_doctor >/dev/null
  bench_gateway >/dev/null

b=$build/bench
if [ "$quick" = 1 ]; then
  "$b/bench_wire_limits"
  "$b/bench_micro" --benchmark_min_time=0.01
  "$b/bench_window" poll 3
  "$b/bench_window" idle 2
  "$b/bench_window" stress 3
  "$b/bench_upload_log" 20000
  "$b/bench_window" flood 3
  "$b/bench_window" uploads 2
  "$b/bench_window" soak 300
  "$b/bench_cold_start" 2
  "$b/bench_window" pace 2
  "$b/bench_cli" read 3
  "$b/bench_cli" tcp 3
  "$b/bench_cli" modbus-tcp 3
  "$b/bench_traffic_log" 5000
  "$b/bench_cli" poll 50
  "$b/bench_scan" 10
  "$b/bench_monitor" wire 3
  "$b/bench_monitor" two 2
  "$b/bench_monitor" trend --quick
  "$b/bench_monitor" sync 2
  "$b/bench_line_doctor" listen 3
  "$b/bench_line_doctor" diagnose 1
  "$b/bench_gateway" rate 3
  "$b/bench_gateway" soak 20
  "$b/bench_gateway" outage 5
  "$b/bench_gateway" serve 3
  exit 0
fi
"$b/bench_wire_limits"
"$b/bench_micro"
"$b/bench_window" poll 60
"$b/bench_window" idle 20
"$b/bench_window" stress 60
"$b/bench_upload_log" 1000000
"$b/bench_window" flood 60
"$b/bench_window" uploads 10
"$b/bench_window" soak 20000
"$b/bench_cold_start" 9
"$b/bench_window" pace 20
"$b/bench_window" paints 5
"$b/bench_cli" read 50
"$b/bench_cli" tcp 50
"$b/bench_cli" modbus-tcp 50
"$b/bench_traffic_log"
"$b/bench_cli" poll 2000
"$b/bench_scan"
"$b/bench_monitor" wire 60
"$b/bench_monitor" two 30
"$b/bench_monitor" trend
"$b/bench_monitor" sync 30
"$b/bench_line_doctor" listen 60
"$b/bench_line_doctor" diagnose 5
"$b/bench_gateway" rate 60
"$b/bench_gateway" soak 600
"$b/bench_gateway" outage 30
"$b/bench_gateway" serve 60
