#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, then builds
# Expat (UTF-16 text, static) for both mingw targets into build/deps.
#
# Safe to run again: packages already present are not reinstalled, the package
# index is refreshed only when something has to be fetched, and Expat is rebuilt
# only when its installed result is missing.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
DEPS="$BUILD/deps"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libexpat1-dev libmsi-dev libglib2.0-dev msitools
  googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64
  clang-14 libclang-rt-14-dev
  dpkg-dev xz-utils ca-certificates python3
)

log() { printf '[setup] %s\n' "$*"; }

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup.sh: run as root (or install sudo)" >&2; exit 1; }
  SUDO=(sudo -E)
fi

APT_UPDATED=0
apt_update() {
  if [[ $APT_UPDATED -eq 0 ]]; then
    log "apt-get update"
    "${SUDO[@]}" apt-get update -qq
    APT_UPDATED=1
  fi
}

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

# --- Debian packages -------------------------------------------------------
missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt_update
  log "installing: ${missing[*]}"
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  log "all ${#PACKAGES[@]} packages present"
fi

# --- Expat for the mingw targets -------------------------------------------
ARCHES=(i686 x86_64)

expat_done() { [[ -f "$DEPS/expat-$1/include/expat.h" && -f "$DEPS/expat-$1/lib/libexpatw.a" ]]; }

need_expat=0
for a in "${ARCHES[@]}"; do expat_done "$a" || need_expat=1; done
if [[ $need_expat -eq 0 ]]; then
  log "Expat already built in $DEPS"
  exit 0
fi

SRC_CACHE="$DEPS/src"
mkdir -p "$SRC_CACHE"

# Debian's source tree keeps the library one level down (expat-X.Y.Z/expat/).
expat_cmake_root() {
  local d
  for d in "$1" "$1/expat"; do
    if [[ -f $d/CMakeLists.txt ]] && grep -qiE '^[[:space:]]*project\([[:space:]]*expat' "$d/CMakeLists.txt"; then
      echo "$d"
      return 0
    fi
  done
  return 1
}

expat_src=""
# A source tree unpacked by an earlier run is reused.
for d in "$SRC_CACHE"/expat-*/; do
  [[ -d $d ]] && expat_src="$(expat_cmake_root "${d%/}")" && break
done
if [[ -z $expat_src ]]; then
  # apt-get source needs a deb-src entry; mirror the machine's Debian entries.
  has_deb_src() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f $f ]] && grep -qE '^[[:space:]]*deb-src[[:space:]]' "$f" && return 0
    done
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -f $f ]] && grep -qiE '^Types:.*deb-src' "$f" && return 0
    done
    return 1
  }

  if ! has_deb_src; then
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      log "adding deb-src entries (/etc/apt/sources.list.d/trellis-deb-src.sources)"
      sed -E 's/^Types:.*/Types: deb-src/I' /etc/apt/sources.list.d/debian.sources |
        "${SUDO[@]}" tee /etc/apt/sources.list.d/trellis-deb-src.sources >/dev/null
    elif [[ -f /etc/apt/sources.list ]] && grep -qE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list; then
      log "adding deb-src entries (/etc/apt/sources.list.d/trellis-deb-src.list)"
      sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list |
        "${SUDO[@]}" tee /etc/apt/sources.list.d/trellis-deb-src.list >/dev/null
    else
      echo "setup.sh: no Debian apt source found to derive a deb-src entry from" >&2
      exit 1
    fi
    APT_UPDATED=0
  fi
  if [[ -z "$(apt-cache showsrc expat 2>/dev/null | awk '/^Version:/')" ]]; then
    APT_UPDATED=0
    apt_update
  fi

  # Versions the index knows, newest first. The newest is not always still on
  # the mirror, so older ones are tried in turn.
  mapfile -t versions < <(apt-cache showsrc expat | awk '/^Version:/ {print $2}' | sort -u)
  if ((${#versions[@]} == 0)); then
    echo "setup.sh: apt-cache showsrc expat lists no versions" >&2
    exit 1
  fi
  for ((i = 1; i < ${#versions[@]}; i++)); do
    for ((j = i; j > 0; j--)); do
      if dpkg --compare-versions "${versions[j]}" gt "${versions[j - 1]}"; then
        t=${versions[j]}; versions[j]=${versions[j - 1]}; versions[j - 1]=$t
      else
        break
      fi
    done
  done

  # As root, apt would otherwise try to drop to the _apt user, who cannot
  # write into the build tree.
  sandbox=()
  [[ $(id -u) -eq 0 ]] && sandbox=(-o APT::Sandbox::User=root)
  for v in "${versions[@]}"; do
    log "apt-get source expat=$v"
    tmp="$(mktemp -d "$SRC_CACHE/fetch.XXXXXX")"
    if (cd "$tmp" && apt-get source -qq "${sandbox[@]}" --only-source "expat=$v") >"$tmp.log" 2>&1; then
      unpacked="$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n1)"
      if [[ -n $unpacked ]] && expat_cmake_root "$unpacked" >/dev/null; then
        name="expat-${v//[:~]/_}"
        rm -rf "${SRC_CACHE:?}/$name"
        mv "$unpacked" "$SRC_CACHE/$name"
        expat_src="$(expat_cmake_root "$SRC_CACHE/$name")"
        rm -rf "$tmp" "$tmp.log"
        break
      fi
      log "expat=$v unpacked without Expat's CMakeLists.txt; trying an older version"
    else
      log "expat=$v could not be fetched: $( (grep -E '^E:' "$tmp.log" || cat "$tmp.log") | head -n1)"
    fi
    rm -rf "$tmp" "$tmp.log"
  done
fi
if [[ -z $expat_src ]]; then
  echo "setup.sh: no Expat source version could be fetched (tried: ${versions[*]})" >&2
  exit 1
fi
log "Expat source: $expat_src"

for a in "${ARCHES[@]}"; do
  expat_done "$a" && continue
  bdir="$DEPS/build-expat-$a"
  prefix="$DEPS/expat-$a"
  log "building Expat for $a into $prefix"
  rm -rf "$bdir" "$prefix"
  # wchar_t is UTF-16 on Windows, which is what the engine's text is.
  cmake -G Ninja -S "$expat_src" -B "$bdir" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$a.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DEXPAT_CHAR_TYPE=wchar_t \
    -DEXPAT_SHARED_LIBS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF \
    -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_DOCS=OFF \
    -DEXPAT_BUILD_FUZZERS=OFF \
    -DEXPAT_BUILD_PKGCONFIG=OFF \
    >"$bdir.log" 2>&1 || { cat "$bdir.log" >&2; exit 1; }
  # Debian's security patches test "#if XML_DTD == 1", as in newer upstream
  # releases, but this release's CMake defines the feature macros empty.
  sed -i -E 's/^#define (XML_DTD|XML_NS|XML_GE)[[:space:]]*$/#define \1 1/' "$bdir/expat_config.h"
  cmake --build "$bdir" -j2 >>"$bdir.log" 2>&1 || { cat "$bdir.log" >&2; exit 1; }
  cmake --install "$bdir" >>"$bdir.log" 2>&1 || { cat "$bdir.log" >&2; exit 1; }
  expat_done "$a" || { echo "setup.sh: Expat for $a did not install libexpatw.a" >&2; ls -R "$prefix" >&2; exit 1; }
done
log "Expat ready: $(printf '%s ' "${ARCHES[@]/#/$DEPS/expat-}")"
