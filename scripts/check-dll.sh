#!/usr/bin/env bash
# Checks what the built custom-action libraries expose to Windows Installer:
#   - each trellis.dll exports exactly the names in src/trellis.def, undecorated
#     (an i686 __stdcall name left as Name@4 or _Name would not be found by
#     msiexec);
#   - each trellis.dll imports only DLLs every Windows machine has, so the
#     compiler runtime must have been linked in statically;
#   - libtrellis.so exports the same entry points, so the POSIX build
#     exercises the same surface.
# Exits non-zero on any mismatch.
#
# TRELLIS_BUILD_DIR and TRELLIS_DEF_FILE point it at another tree.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
DEF="${TRELLIS_DEF_FILE:-$ROOT/src/trellis.def}"

ALLOWED_DLLS="kernel32.dll msvcrt.dll msi.dll advapi32.dll ole32.dll user32.dll shlwapi.dll shell32.dll"

failures=0
fail() { printf '  FAIL: %s\n' "$*"; failures=$((failures + 1)); }
ok() { printf '  ok:   %s\n' "$*"; }

# Names listed under EXPORTS, without ordinals, aliases or keywords.
def_exports() {
  awk '
    BEGIN { in_exports = 0 }
    { sub(/;.*/, "") }
    /^[[:space:]]*$/ { next }
    toupper($1) == "EXPORTS" { in_exports = 1; $1 = ""; if (NF == 0) next }
    toupper($1) ~ /^(LIBRARY|NAME|DESCRIPTION|STACKSIZE|SECTIONS|HEAPSIZE|VERSION)$/ { in_exports = 0; next }
    in_exports { n = $1; sub(/=.*/, "", n); if (n != "") print n }
  ' "$1" | LC_ALL=C sort -u
}

# Prints the sorted difference between two newline-separated lists.
compare_lists() { # what expected actual
  local what=$1 expected=$2 actual=$3
  if [[ "$expected" == "$actual" ]]; then
    ok "$what: $(count "$actual") name(s)${actual:+: $(words "$actual")}"
  else
    fail "$what differ from $(basename "$DEF")"
    diff <(printf '%s\n' "$expected" | sed '/^$/d') <(printf '%s\n' "$actual" | sed '/^$/d') |
      sed -n 's/^< /      missing:    /p; s/^> /      unexpected: /p' || true
  fi
}
count() { printf '%s\n' "$1" | sed '/^$/d' | wc -l; }
# A newline-separated list on one line.
words() { printf '%s\n' "$1" | sed '/^$/d' | paste -sd' ' -; }

[[ -f "$DEF" ]] || { echo "check-dll.sh: $DEF not found" >&2; exit 1; }
expected="$(def_exports "$DEF")"
echo "Entry points in $DEF: $(count "$expected")${expected:+ ($(words "$expected"))}"

check_dll() { # arch
  local arch=$1 dll="$BUILD/mingw-$1/trellis.dll" objdump="$1-w64-mingw32-objdump" format
  echo "$dll"
  if [[ ! -f "$dll" ]]; then
    fail "not built"
    return
  fi
  local dump
  dump="$("$objdump" -p "$dll")"

  case $arch in
    i686) format=pei-i386 ;;
    x86_64) format=pei-x86-64 ;;
  esac
  if grep -q "file format $format\$" <<<"$dump"; then ok "format $format"; else fail "not $format"; fi

  # The export name table, one "[ n] Name" line per name.
  local exports
  exports="$(awk '/^\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
                  t && /^[[:space:]]*$/ { t = 0 }
                  t { sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print }' <<<"$dump" |
    LC_ALL=C sort -u)"
  local decorated
  decorated="$(grep -E '@[0-9]+$|^_' <<<"$exports" || true)"
  if [[ -n "$decorated" ]]; then
    fail "decorated export names: $(words "$decorated")"
  fi
  compare_lists "exports" "$expected" "$exports"

  local imports bad=""
  imports="$(awk -F': ' '/^[[:space:]]*DLL Name:/ { print $2 }' <<<"$dump" | LC_ALL=C sort -u)"
  while IFS= read -r name; do
    [[ -z "$name" ]] && continue
    local lower=${name,,}
    [[ " $ALLOWED_DLLS " == *" $lower "* || $lower == api-ms-win-crt-*.dll ]] || bad+=" $name"
  done <<<"$imports"
  if [[ -n "$bad" ]]; then
    fail "imports non-system DLLs:$bad"
  else
    ok "imports only system DLLs: $(words "$imports")"
  fi
}

check_so() {
  local so="$BUILD/native/libtrellis.so"
  echo "$so"
  if [[ ! -f "$so" ]]; then
    fail "not built"
    return
  fi
  # Entry points are extern "C" functions named On... or Test...; everything
  # else the library happens to export (template instances) is not compared.
  local exports
  exports="$(nm -D --defined-only "$so" | awk '$2 == "T" && $3 ~ /^(On|Test)[A-Za-z0-9_]*$/ { print $3 }' |
    LC_ALL=C sort -u)"
  compare_lists "exported entry points" "$expected" "$exports"
}

check_dll i686
check_dll x86_64
check_so

if ((failures)); then
  echo "check-dll: $failures problem(s)"
  exit 1
fi
echo "check-dll: all checks passed"
