#!/usr/bin/env bash
# A short smoke run: set up, build the native library and its tests, show the
# custom-action entry points it exports and the test packages it built, then
# run the unit tests.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:hard_rss_limit_mb=4096}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

bash "$ROOT/scripts/setup.sh"

echo "=== Building $BUILD/native"
cmake -G Ninja -S "$ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=Debug -DTRELLIS_SANITIZE=ON >/dev/null
cmake --build "$BUILD/native" -j2

echo
echo "=== Entry points exported by libtrellis.so"
nm -D --defined-only "$BUILD/native/libtrellis.so" | awk '$2 == "T" && $3 ~ /^(On|Test)/ { print "  " $3; n++ }
  END { if (!n) print "  (none yet)" }'

echo
echo "=== Test packages"
shopt -s nullglob
for msi in "$BUILD/native/fixtures/"*.msi; do
  echo "  $(basename "$msi"): $(msiinfo tables "$msi" | sort | tr '\n' ' ')"
done

echo
echo "=== Unit tests"
export TRELLIS_FIXTURE_DIR="$BUILD/native/fixtures"
"$BUILD/native/tests/trellis_tests" --gtest_brief=1
