#!/usr/bin/env bash
# The Windows half of the differential test: runs tests/data/installer-cases.txt
# through Wine's msi.dll (build/mingw-x86_64/tests/installer_cases.exe, over
# the package tests/fixtures/conditions) and compares the results with
# tests/data/installer-cases.wine.txt, which the native InstallerCasesTest
# compares with the stand-in session.
#
#   scripts/run-wine-installer-cases.sh            compare
#   scripts/run-wine-installer-cases.sh --update   rewrite installer-cases.wine.txt
#
# Uses the Wine prefix that scripts/run-wine-tests.sh creates.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
TREE="$BUILD/mingw-x86_64"
EXE="$TREE/tests/installer_cases.exe"
CASES="$ROOT/tests/data/installer-cases.txt"
EXPECTED="$ROOT/tests/data/installer-cases.wine.txt"
OUT="$TREE/installer-cases.wine.txt"
LOG="$TREE/installer-cases.wine.log"

export WINEPREFIX="$BUILD/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

fail() {
  echo "run-wine-installer-cases.sh: $*" >&2
  exit 1
}

[[ -f $EXE ]] || fail "$EXE not built"
[[ -f $TREE/fixtures/conditions.msi ]] || fail "$TREE/fixtures/conditions.msi not built"
[[ -f $WINEPREFIX/.trellis-ready ]] || fail "no Wine prefix in $WINEPREFIX; scripts/run-wine-tests.sh makes it"

to_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

set +e
timeout --kill-after=10 300 wine "$EXE" "$(to_windows_path "$CASES")" \
  "$(to_windows_path "$TREE/fixtures/conditions.msi")" </dev/null >"$OUT" 2>"$LOG"
rc=$?
set -e
wineserver -w || true
[[ $rc -eq 0 ]] || { grep -v 'LoadLibraryShim' "$LOG" | tail -n 20 >&2; fail "installer_cases.exe exited with $rc"; }

if [[ ${1:-} == --update ]]; then
  cp "$OUT" "$EXPECTED"
  echo "wrote $EXPECTED ($(grep -c $'\t=> ' "$OUT") results)"
  exit 0
fi
if ! diff -u "$EXPECTED" "$OUT"; then
  fail "Wine's msi.dll no longer gives tests/data/installer-cases.wine.txt (above); check the changes, then rerun with --update"
fi
echo "installer cases under Wine: $(grep -c $'\t=> ' "$OUT") results as in tests/data/installer-cases.wine.txt"
