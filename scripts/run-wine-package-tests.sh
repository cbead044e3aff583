#!/usr/bin/env bash
# Installs and uninstalls the test package tests/packages/locators with Wine's
# own msiexec and the x86_64 trellis.dll, in a fresh Wine prefix:
#   - its locators read an attribute, a text and an element name out of an
#     existing file (tests/data/locators/source.xml) into properties;
#   - the package's rows and those of its merged module each build their own
#     file from them, byte for byte tests/data/locators/found.xml and
#     module.xml, and each set is applied once although the module's actions
#     run first and are handed the module id through CustomActionData;
#   - the uninstallation removes both files and leaves the source alone.
# Takes about 15 seconds. Exits non-zero on the first failed check.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
DLL="$BUILD/mingw-x86_64/trellis.dll"
DATA="$ROOT/tests/data/locators"
WORK="$BUILD/wine-package-tests"

[[ -f "$DLL" ]] || { echo "run-wine-package-tests.sh: $DLL not built" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK"
export WINEPREFIX="$WORK/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

passed=0
failed=0
check() { # description command...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "  ok:   $what"
  else
    failed=$((failed + 1))
    echo "  FAIL: $what"
  fi
}
finish() {
  wineserver -k >/dev/null 2>&1 || true
  echo "wine-package: $passed passed, $failed failed"
  ((failed == 0))
}
# Lines of the log that contain the text. Wine formats logged texts again,
# so "[...]" inside a line is gone: look for texts without brackets.
count() { # text log
  tr -d '\r' <"$2" | grep -acF -- "$1" || true
}

bash "$ROOT/scripts/build-package.sh" "$ROOT/tests/packages/locators" "$DLL" "$WORK/locators.msi" >/dev/null
start=$SECONDS
wineboot -i </dev/null >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log" >&2; exit 1; }
wineserver -w
echo "Fresh Wine prefix in $((SECONDS - start)) s"

target="$WINEPREFIX/drive_c/ProgramData/Locator Test"
mkdir -p "$target"
cp "$DATA/source.xml" "$target/source.xml"

cd "$WORK"
echo "wine msiexec /i locators.msi /qn"
rc=0
wine msiexec /i locators.msi /qn /l*v install.log </dev/null || rc=$?
wineserver -w
check "the installation succeeds (exit $rc)" test "$rc" -eq 0
check "found.xml holds the values the package's locators read" cmp -s "$DATA/found.xml" "$target/found.xml"
check "module.xml holds the value the module's locator read" cmp -s "$DATA/module.xml" "$target/module.xml"
check "the source file is unchanged" cmp -s "$DATA/source.xml" "$target/source.xml"
check "nothing else is left beside the files (no backups)" \
  test "$(find "$target" -type f | wc -l)" -eq 3
check "each immediate action ran once" \
  test "$(count 'Trellis: OnXmlInstall start.' install.log)" -eq 2 -a "$(count 'Trellis: OnXmlLocator start' install.log)" -eq 2
check "two deferred runs, one for the module and one for the package" \
  test "$(count 'Trellis: OnXmlConfig start.' install.log)" -eq 2
check "each file was processed once" \
  test "$(count 'Processing XML file: C:\ProgramData\Locator Test\found.xml' install.log)" -eq 1 \
    -a "$(count 'Processing XML file: C:\ProgramData\Locator Test\module.xml' install.log)" -eq 1

echo "wine msiexec /x locators.msi /qn"
rc=0
wine msiexec /x locators.msi /qn /l*v uninstall.log </dev/null || rc=$?
wineserver -w
check "the uninstallation succeeds (exit $rc)" test "$rc" -eq 0
check "both built files are gone" test ! -e "$target/found.xml" -a ! -e "$target/module.xml"
check "the source file is still there, unchanged" cmp -s "$DATA/source.xml" "$target/source.xml"

((failed == 0)) || { echo "--- install.log (Trellis lines)"; tr -d '\r' <install.log | grep -aF 'Trellis:' || true; }
finish
