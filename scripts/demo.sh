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
nm -D --defined-only "$BUILD/native/libtrellis.so" | awk '$2 == "T" && $3 ~ /^(On|Test)/ { print "  " $3 }'

# The example package through trellis-host, on two sandbox machines: one
# without the configuration file and one where a hand-written file exists.
package="$BUILD/native/examples/webshop.msi"
host() { # command root log
  "$BUILD/native/trellis-host" "$1" "$package" --root "$2" --log "$3" >/dev/null
}
lines() { # log: the library's own lines
  grep -aE 'Trellis: |Scheduling (deferred|rollback|commit) action' "$1" |
    sed -E 's/(with CustomActionData) .*/\1 (the kept rows of the XML tables)/; s/^/  /'
}
webconfig="C/Program Files (x86)/Norrvik/WebShop/web.config"
demo=$(mktemp -d /tmp/trellis-demo-XXXXXX)

echo
echo "=== 1. Install on a machine without web.config (trellis-host install, root $demo/fresh)"
host install "$demo/fresh" "$demo/fresh-install.log"
lines "$demo/fresh-install.log"
echo "--- the file built from the package's tables:"
sed 's/^/  | /' "$demo/fresh/$webconfig"

echo
echo "=== 2. Uninstall it again: only QM_XmlRemove is scheduled, and the file the product built goes"
host uninstall "$demo/fresh" "$demo/fresh-uninstall.log"
grep -aE 'Scheduling deferred action|Trellis: (Deleting|OnXmlRemove)' "$demo/fresh-uninstall.log" |
  sed -E 's/(with CustomActionData) .*/\1 .../; s/^/  /'
[[ -e "$demo/fresh/$webconfig" ]] && { echo "web.config is still there" >&2; exit 1; }
echo "  web.config is gone."

echo
echo "=== 3. Install where a hand-written web.config exists, with its own LogFolder: merged in place"
mkdir -p "$(dirname "$demo/existing/$webconfig")"
printf '%s\r\n' '<?xml version="1.0" encoding="utf-8"?>' '<!-- Web shop settings; edit with care -->' \
  '<configuration>' '    <appSettings>' "        <add key='Theme'  value='dark' />" \
  "        <add key='LogFolder' value='D:\Logs\WebShop' />" '    </appSettings>' \
  '    <connectionStrings />' '</configuration>' >"$demo/existing/$webconfig"
cp "$demo/existing/$webconfig" "$demo/original.config"
host install "$demo/existing" "$demo/existing-install.log"
echo "--- the locator (OnXmlLocator) reads the LogFolder that is there, and the merge uses it:"
grep -aE 'Trellis: (RUN Locators for file|Found element|Set Property|Skipping locators)' \
  "$demo/existing-install.log" | sed 's/^/  /'
echo "--- what changed (new lines end and are indented like their neighbours; every other byte stays as it"
echo "    was, LogFolder included):"
diff -u --label before --label after "$demo/original.config" "$demo/existing/$webconfig" | sed 's/^/  /' || true

echo
echo "=== 4. Uninstall: what the package added goes again, and the file is back as it was"
host uninstall "$demo/existing" "$demo/existing-uninstall.log"
grep -aE 'Trellis: (REMOVE|RESTORE)' "$demo/existing-uninstall.log" | sed 's/^/  /'
echo "--- the difference to the file before the installation:"
if diff -u --label before --label after "$demo/original.config" "$demo/existing/$webconfig" | sed 's/^/  /'; then
  echo "  none: every byte is back, the administrator's LogFolder included."
fi
echo
echo "The logs are in $demo."
