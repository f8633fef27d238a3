#!/usr/bin/env bash
# Installs what it needs, builds everything and runs the whole test suite: the
# normal build's tests, the Debian package check, a bounded fuzzing run, and
# the tests again in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

"$here/scripts/deps.sh"

echo "== build (tool, simulated module, tests, benchmarks)"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$jobs"

echo "== tests"
ctest --test-dir "$here/build" --output-on-failure -j"$jobs"

echo "== Debian package, desktop entry and icons"
"$here/scripts/check-package.sh" "$here/build"

echo "== fuzzing, ${KC_FUZZ_SECONDS:-20} s a target"
"$here/scripts/fuzz.sh" "${KC_FUZZ_SECONDS:-20}"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKC_SANITIZE=ON \
  -DKC_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$here/build-asan" --output-on-failure -j"$jobs" -LE long

echo "== size of the tests against the code (non-blank, non-comment lines)"
count() {
  git -C "$here" ls-files -- "$@" | grep -E '\.(cpp|cc|h|hpp|py)$' |
    (cd "$here" && xargs -r cat) | grep -cvE '^\s*(//.*)?$'
}
code=$(count . ':!tests' ':!fuzz' ':!bench' ':!scripts' ':!docs')
tests=$(count tests fuzz)
echo "tests and fuzz targets: $tests lines; product code: $code lines; ratio $((100 * tests / code)) %"
if [ $((100 * tests)) -gt $((40 * code)) ]; then
  echo "the tests are over 40 % of the code"
  exit 1
fi
