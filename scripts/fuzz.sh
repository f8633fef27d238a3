#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 60) on a copy of its committed corpus, so runs never grow the
# repository. Fails on any crash, leak, timeout or broken invariant; the input
# that caused it is kept under <build dir>/crashes/<target>/.
#
#   scripts/fuzz.sh [seconds]        build dir: build-fuzz, or $KC_FUZZ_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${KC_FUZZ_BUILD_DIR:-$here/build-fuzz}
targets=(fuzz_receiver fuzz_number_text fuzz_mbap fuzz_listen_framer)
# Replies fit well within 1 KiB; box texts need a few hundred characters to
# reach a double's overflow and underflow, and longer ones only slow the run; a
# listener's deliveries need room for a few frames and more than the 512 bytes
# its framer holds at most.
declare -A maxLen=([fuzz_receiver]=1024 [fuzz_number_text]=512 [fuzz_mbap]=1024 [fuzz_listen_framer]=2048)

echo "== fuzz targets: build in $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 \
  -DKC_FUZZ=ON -DKC_BUILD_TESTS=OFF -DKC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus" "$work/$target/found"
  cp "$here/fuzz/corpus/$target/"* "$work/$target/corpus/"
  echo "== fuzz $target for ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" "$work/$target/corpus" \
    -max_total_time="$seconds" -max_len="${maxLen[$target]}" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$target/found/" \
    >"$work/$target/log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$work/$target/log" || true
  else
    tail -n 60 "$work/$target/log"
    mkdir -p "$build/crashes/$target"
    cp "$work/$target/found/"* "$build/crashes/$target/" 2>/dev/null || true
    echo "== $target FAILED; inputs kept in $build/crashes/$target"
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing passed: ${targets[*]}"
