#!/usr/bin/env bash
# Installs what it needs, builds everything and runs the whole test suite:
# the normal build, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

"$here/scripts/deps.sh"

echo "== build"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$jobs"
echo "== tests"
ctest --test-dir "$here/build" --output-on-failure -j"$jobs"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKC_SANITIZE=ON \
  -DKC_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs" -LE long

echo "== Debian package, desktop entry and icons"
"$here/scripts/check-package.sh" "$here/build"
