#!/usr/bin/env bash
# Runs the Windows unit tests (build/mingw-x86_64) under Wine, against Wine's
# own msi.dll, registry and file system. Only the 64-bit build runs: 32-bit
# Wine is not installable on this machine.
#
# The Wine prefix lives in the build tree and is created on first use.
# Arguments are passed to the test program (e.g. --gtest_filter=Msi*).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
TREE="$BUILD/mingw-x86_64"
EXE="$TREE/tests/trellis_tests.exe"
TIMEOUT="${TRELLIS_WINE_TIMEOUT:-900}"
# A runaway test should fail with bad_alloc rather than bring the out-of-memory
# killer onto the whole machine. The data limit leaves Wine's large address
# space reservations alone.
MEMORY_MB="${TRELLIS_WINE_MEMORY_MB:-4096}"

export WINEPREFIX="$BUILD/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and installing them would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

if [[ ! -f "$EXE" ]]; then
  echo "run-wine-tests.sh: $EXE not built" >&2
  exit 1
fi

if [[ ! -f "$WINEPREFIX/.trellis-ready" ]]; then
  echo "Creating Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  start=$SECONDS
  wineboot -i </dev/null >"$BUILD/wine-prefix.log" 2>&1 || { cat "$BUILD/wine-prefix.log" >&2; exit 1; }
  wineserver -w
  [[ -f "$WINEPREFIX/system.reg" ]] || { echo "run-wine-tests.sh: wineboot made no registry" >&2; exit 1; }
  touch "$WINEPREFIX/.trellis-ready"
  echo "Wine prefix ready in $((SECONDS - start)) s"
fi

# Wine maps the Linux root to drive Z:, and passes the environment through.
to_windows_path() { printf 'Z:%s' "${1//\//\\}"; }
TRELLIS_FIXTURE_DIR="$(to_windows_path "$TREE/fixtures")"
export TRELLIS_FIXTURE_DIR

log="$TREE/wine-tests.log"
echo "Running $EXE under Wine (TRELLIS_FIXTURE_DIR=$TRELLIS_FIXTURE_DIR)"
set +e
started=$SECONDS
(
  ulimit -d $((MEMORY_MB * 1024))
  exec timeout --kill-after=10 "$TIMEOUT" wine "$EXE" --gtest_color=no "$@" </dev/null
) 2>&1 | tr -d '\r' | tee "$log"
rc=${PIPESTATUS[0]}
set -e
if [[ $rc -eq 124 || $rc -eq 137 ]]; then
  # The Windows process can outlive its killed loader; end this prefix's server.
  wineserver -k || true
fi
wineserver -w || true

echo "--- Wine test summary"
grep -E '^\[  (PASSED|FAILED|SKIPPED) +\]|^\[==========\] [0-9]+ tests? from .* ran' "$log" || true
passed="$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -n1)"
failed="$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$log" | tail -n1)"
if [[ $rc -eq 124 || ($rc -eq 137 && $((SECONDS - started)) -ge $TIMEOUT) ]]; then
  echo "run-wine-tests.sh: timed out after $TIMEOUT s" >&2
elif [[ $rc -gt 128 ]]; then
  echo "run-wine-tests.sh: test program killed by signal $((rc - 128))" >&2
elif [[ $rc -ne 0 ]]; then
  echo "run-wine-tests.sh: test program exited with $rc" >&2
fi
echo "wine: ${passed:-0} passed, ${failed:-0} failed"
# A run that printed no results did not run the tests, whatever its status.
if [[ $rc -eq 0 && -z "$passed" ]]; then
  echo "run-wine-tests.sh: no gtest summary in the output" >&2
  exit 1
fi
exit "$rc"
