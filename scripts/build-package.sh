#!/bin/sh
# Builds a package that runs this library: the readable tables of DIR plus
# the library itself as the Binary row TrellisDll.
#
#   scripts/build-package.sh DIR LIBRARY OUT.msi
#
# LIBRARY is trellis.dll for Windows (and msiexec under Wine), or the Linux
# libtrellis.so for trellis-host, which loads the Linux library itself.
set -eu

if [ $# -ne 3 ]; then
    echo "usage: $0 DIR LIBRARY OUT.msi" >&2
    exit 2
fi
dir=$1
library=$2
out=$3
[ -f "$dir/Binary.idt" ] || { echo "$0: $dir has no Binary.idt" >&2; exit 1; }
[ -f "$library" ] || { echo "$0: $library does not exist" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dir"/*.idt "$stage"/
mkdir -p "$stage/Binary"
cp "$library" "$stage/Binary/TrellisDll.dll"
"$(dirname "$0")/build-msi.sh" "$stage" "$out"
