#!/bin/sh
# Builds one package of the end-to-end suite: the tables of COMMON, replaced
# table by table by those of PACKAGE, with the two libraries as the Binary
# rows TrellisDll and FailDll. A PACKAGE with a file module-id gets its
# tables in the shape a merge module leaves them (scripts/decorate-module.py);
# a PACKAGE with a folder module/ (tables and a module-id of their own) gets
# that module's rows, so decorated, beside its own, as if it were merged in;
# a PACKAGE with a file platform is built for that platform (x64).
#
#   scripts/build-e2e-package.sh COMMON PACKAGE TRELLIS_LIBRARY FAIL_LIBRARY OUT.msi
set -eu

if [ $# -ne 5 ]; then
    echo "usage: $0 COMMON PACKAGE TRELLIS_LIBRARY FAIL_LIBRARY OUT.msi" >&2
    exit 2
fi
common=$1
package=$2
trellis=$3
fail=$4
out=$5
here=$(cd "$(dirname "$0")" && pwd)
for file in "$trellis" "$fail"; do
    [ -f "$file" ] || { echo "$0: $file does not exist" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The folder's name makes the package code, so it is the package's own.
name=$(basename "$package")
mkdir "$work/tables" "$work/$name"
cp "$common"/*.idt "$work/tables/"
cp "$package"/*.idt "$work/tables/"
if [ -f "$package/module-id" ]; then
    python3 "$here/decorate-module.py" "$work/tables" "$(tr -d ' \r\n' < "$package/module-id")" "$work/$name"
else
    cp "$work/tables"/*.idt "$work/$name/"
fi
if [ -d "$package/module" ]; then
    python3 "$here/decorate-module.py" "$package/module" "$(tr -d ' \r\n' < "$package/module/module-id")" \
        "$work/module"
    for table in "$work/module"/*.idt; do
        target="$work/$name/$(basename "$table")"
        if [ -f "$target" ]; then
            tail -n +4 "$table" >> "$target"  # the rows, below the three header lines
        else
            cp "$table" "$target"
        fi
    done
fi
if [ -f "$package/platform" ]; then
    cp "$package/platform" "$work/$name/"
fi
mkdir -p "$work/$name/Binary"
cp "$trellis" "$work/$name/Binary/TrellisDll.dll"
cp "$fail" "$work/$name/Binary/FailDll.dll"
"$here/build-msi.sh" "$work/$name" "$out"
