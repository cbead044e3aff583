#!/usr/bin/env bash
# Sets up the machine and runs every check the project has:
#   1. scripts/setup.sh (packages, Expat for mingw)
#   2. native build with ASan/UBSan, unit tests through ctest
#   3. scripts/fuzz.sh (each libFuzzer target for TRELLIS_FUZZ_SECONDS, 30 s)
#   4. trellis.dll for x86_64 (with the unit tests) and i686
#   5. scripts/check-dll.sh (exports and imports of the libraries)
#   6. scripts/run-wine-tests.sh (the x86_64 unit tests under Wine)
#   7. scripts/run-wine-installer-cases.sh (conditions and formatted text
#      through Wine's msi.dll, against tests/data/installer-cases.wine.txt)
#   8. scripts/run-e2e.py (the packages of tests/e2e installed, repaired,
#      upgraded, rolled back and removed by msiexec under Wine and by
#      trellis-host, against the expected files of tests/e2e/cases)
# Stops at the first failure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TRELLIS_BUILD_DIR="${TRELLIS_BUILD_DIR:-$ROOT/build}"
BUILD="$TRELLIS_BUILD_DIR"
JOBS="${TRELLIS_JOBS:-2}"

# Any sanitizer report fails the run, leaks included; a test that runs away
# with memory is stopped at 4 GiB instead of bringing in the OOM killer.
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:hard_rss_limit_mb=4096}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

timings=()
stage_start=0
stage() {
  printf '\n=== %s\n' "$1"
  stage_name=$1
  stage_start=$SECONDS
}
stage_end() {
  timings+=("$(printf '%-34s %4d s' "$stage_name" $((SECONDS - stage_start)))")
}

configure() { # tree [cmake args...]
  local tree=$1
  shift
  cmake -G Ninja -S "$ROOT" -B "$BUILD/$tree" "$@" >"$BUILD/$tree.configure.log" 2>&1 ||
    { cat "$BUILD/$tree.configure.log"; echo "test.sh: configuring $tree failed" >&2; return 1; }
}

stage "setup"
bash "$ROOT/scripts/setup.sh"
stage_end
mkdir -p "$BUILD"

stage "native build (ASan/UBSan)"
configure native -DCMAKE_BUILD_TYPE=Debug -DTRELLIS_SANITIZE=ON
cmake --build "$BUILD/native" -j"$JOBS"
stage_end

stage "native unit tests"
ctest --test-dir "$BUILD/native" --output-on-failure --no-tests=error -j"$JOBS" 2>&1 | tee "$BUILD/native/ctest.log"
stage_end

stage "fuzz targets (clang, libFuzzer)"
bash "$ROOT/scripts/fuzz.sh" "${TRELLIS_FUZZ_SECONDS:-30}"
stage_end

for arch in x86_64 i686; do
  stage "mingw-$arch build"
  tests=ON
  # 32-bit Wine is not installable here, so the i686 tests could not run.
  [[ $arch == i686 ]] && tests=OFF
  configure "mingw-$arch" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
    -DTRELLIS_EXPAT_PREFIX="$BUILD/deps/expat-$arch" \
    -DTRELLIS_BUILD_TESTS=$tests
  cmake --build "$BUILD/mingw-$arch" -j"$JOBS"
  stage_end
done

stage "check-dll"
bash "$ROOT/scripts/check-dll.sh"
stage_end

stage "unit tests under Wine"
bash "$ROOT/scripts/run-wine-tests.sh"
stage_end

stage "installer cases under Wine"
bash "$ROOT/scripts/run-wine-installer-cases.sh"
stage_end

stage "end-to-end (Wine, trellis-host)"
python3 "$ROOT/scripts/run-e2e.py" 2>&1 | tee "$BUILD/e2e.log"
stage_end

printf '\n=== Timings\n'
printf '  %s\n' "${timings[@]}"
printf '  %-34s %4d s\n' "total" "$SECONDS"

# One closing line over all test runs.
native_total="$(sed -nE 's/.* tests failed out of ([0-9]+).*/\1/p' "$BUILD/native/ctest.log" | tail -n1)"
native_failed="$(sed -nE 's/.* ([0-9]+) tests failed out of.*/\1/p' "$BUILD/native/ctest.log" | tail -n1)"
wine_passed="$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$BUILD/mingw-x86_64/wine-tests.log" | tail -n1)"
e2e_passed="$(sed -nE 's/^e2e: wine ([0-9]+) passed, 0 failed; host ([0-9]+) passed.*/\1 + \2/p' "$BUILD/e2e.log")"
passed=$(( ${native_total:-0} - ${native_failed:-0} + ${wine_passed:-0} + ${e2e_passed:-0} ))
echo
grep '^e2e: ' "$BUILD/e2e.log" || true
echo "all: $passed passed, 0 failed"
