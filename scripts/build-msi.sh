#!/bin/sh
# Builds an installer database from readable tables.
#
#   scripts/build-msi.sh DIR OUT.msi
#
# Every DIR/*.idt is imported with msibuild (a _ForceCodepage.idt sets the
# database's code page). A stream cell names a file under
# DIR/<Table>/, which msibuild resolves against the working directory, so the
# import runs inside DIR. The summary information is that of an ordinary
# per-machine package, so that a real Windows Installer opens it as a package;
# a file DIR/platform holding "x64" makes it a 64-bit package.
#
# OUT is rebuilt from scratch each time and removed again when a step fails.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 DIR OUT.msi" >&2
    exit 2
fi

dir=$1
out=$2

if [ ! -d "$dir" ]; then
    echo "$0: $dir is not a folder" >&2
    exit 1
fi
if ! command -v msibuild >/dev/null 2>&1; then
    echo "$0: msibuild not found (Debian package msitools)" >&2
    exit 1
fi

dir=$(cd "$dir" && pwd)
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

fail() {
    echo "$0: $*" >&2
    rm -f "$out"
    exit 1
}

title="Trellis test package $(basename "$dir")"
author="Trellis Project"
# A package code derived from the folder name keeps rebuilds stable while
# each fixture still gets its own code.
hash=$(printf '%s' "$(basename "$dir")" | md5sum | tr 'a-f' 'A-F')
packagecode=$(printf '{%s-%s-%s-%s-%s}' \
    "$(echo "$hash" | cut -c1-8)" "$(echo "$hash" | cut -c9-12)" \
    "$(echo "$hash" | cut -c13-16)" "$(echo "$hash" | cut -c17-20)" \
    "$(echo "$hash" | cut -c21-32)")

rm -f "$out"

# msibuild fills in schema 200, "Installer, MSI" keywords, long uncompressed
# source names and the creating application; the template names the
# platform and language Windows Installer checks before opening a package:
# Intel, unless a file DIR/platform names another (x64).
platform=Intel
if [ -f "$dir/platform" ]; then
    platform=$(tr -d ' \r\n' < "$dir/platform")
fi
msibuild "$out" -s "$title" "$author" "$platform;1033" "$packagecode" \
    || fail "msibuild could not write the summary information of $out"

found=0
for table in "$dir"/*.idt; do
    [ -e "$table" ] || continue
    found=1
    name=$(basename "$table")
    # msibuild reports some failures only as warnings on stderr (and may
    # crash on text it cannot convert), so both the status and the
    # presence of the table afterwards are checked.
    (cd "$dir" && msibuild "$out" -i "$name") \
        || fail "msibuild could not import $table"
    tablename=$(sed -n '3p' "$table" | cut -f1 | tr -d '\r')
    # _ForceCodepage.idt sets the database's code page: its third line is
    # "<code page><TAB>_ForceCodepage", and no table of that name appears.
    [ "$name" = _ForceCodepage.idt ] && tablename=_ForceCodepage
    case $tablename in
        _*) ;;
        *) msiinfo tables "$out" 2>/dev/null | grep -qx "$tablename" \
               || fail "table $tablename of $table is missing from $out" ;;
    esac
done
[ "$found" -eq 1 ] || fail "no .idt tables in $dir"
