#!/usr/bin/env bash
# Times `trellis-host install` of generated packages on generated
# configuration files, against three anchors on the same file in the same
# run: Expat parsing only, pugixml loading and saving, libxml2 parsing and
# saving. See the README ("Benchmark") for what it prints.
#
#   bash bench/run.sh [--sizes 1,4,16,30] [--changes 10,100,1000,10000] [--runs 3]
#                     [--nesting 3000,6000,100000|none] [--timeout 300] [--metric wall|cpu]
#                     [--eol crlf|lf] [--seed 1] [--work DIR] [--quick] [--no-setup]
#
# Each measurement is a fresh process (bench-measure) that runs one program;
# its peak memory is getrusage(RUSAGE_CHILDREN) after that program ends.
# Every run of trellis-host gets a fresh sandbox root with the file copied
# in; the first run of each cell is checked with bench-verify.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/bench"
SIZES=1,4,16,30
CHANGES=10,100,1000,10000
RUNS=3
NESTING=3000,6000,100000
TIMEOUT=300
METRIC=wall
EOL=crlf
SEED=1
WORK=""
SETUP=1

usage() { sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit "${1:-0}"; }
die() { echo "bench/run.sh: $*" >&2; exit 2; }
is_list() { [[ $1 =~ ^[0-9]+(,[0-9]+)*$ ]]; }

while (($#)); do
  case $1 in
    --sizes) SIZES=${2:?}; shift ;;
    --changes) CHANGES=${2:?}; shift ;;
    --runs) RUNS=${2:?}; shift ;;
    --nesting) NESTING=${2:?}; shift ;;
    --timeout) TIMEOUT=${2:?}; shift ;;
    --metric) METRIC=${2:?}; shift ;;
    --eol) EOL=${2:?}; shift ;;
    --seed) SEED=${2:?}; shift ;;
    --work) WORK=${2:?}; shift ;;
    --quick) SIZES=1,4; CHANGES=10,100; RUNS=1; NESTING=3000 ;;
    --no-setup) SETUP=0 ;;
    -h|--help) usage 0 ;;
    *) echo "bench/run.sh: unknown option $1" >&2; usage 2 ;;
  esac
  shift
done
is_list "$SIZES" || die "--sizes takes sizes in MiB, e.g. 1,4,16,30"
is_list "$CHANGES" || die "--changes takes numbers of changes, e.g. 10,100"
[[ $NESTING == none ]] || is_list "$NESTING" || die "--nesting takes depths, e.g. 3000,6000, or none"
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "--runs takes a number from 1"
[[ $TIMEOUT =~ ^[0-9]+$ ]] || die "--timeout takes seconds (0: none)"
[[ $SEED =~ ^[0-9]+$ ]] || die "--seed takes a number"
[[ $METRIC == wall || $METRIC == cpu ]] || die "--metric is wall or cpu"
[[ $EOL == crlf || $EOL == lf ]] || die "--eol is crlf or lf"
WORK=${WORK:-$BUILD/work}
STARTED=$SECONDS

log() { printf '[bench] %s\n' "$*" >&2; }

# --- What the benchmark needs, installed once -------------------------------
PACKAGES=(cmake ninja-build g++ pkg-config libexpat1-dev libmsi-dev libglib2.0-dev msitools
          libpugixml-dev libxml2-dev)
if ((SETUP)); then
  missing=()
  for p in "${PACKAGES[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == "install ok installed" ]] || missing+=("$p")
  done
  if ((${#missing[@]})); then
    SUDO=()
    [[ $(id -u) -eq 0 ]] || SUDO=(sudo -E)
    log "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
fi

# --- A Release tree without sanitizers, with the benchmark's programs ------
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
log "building $BUILD (Release)"
cmake -G Ninja -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTRELLIS_SANITIZE=OFF \
  -DTRELLIS_BUILD_TESTS=OFF -DTRELLIS_BUILD_BENCH=ON "${launcher[@]}" >"$BUILD.configure.log" 2>&1 \
  || { cat "$BUILD.configure.log" >&2; exit 1; }
cmake --build "$BUILD" --target trellis_bench -j2 >"$BUILD.build.log" 2>&1 \
  || { tail -n 40 "$BUILD.build.log" >&2; exit 1; }
HOST="$BUILD/trellis-host"
LIBRARY="$BUILD/libtrellis.so"
TOOLS="$BUILD/bench"

mkdir -p "$WORK/files" "$WORK/packages"
SANDBOX="$WORK/root"
TARGET_DIR="$SANDBOX/C/Program Files (x86)/Norrvik/Bench"   # INSTALLDIR of bench/package
OUT="$WORK/anchor-out.xml"
RESULTS="$WORK/results-$(date +%Y%m%d-%H%M%S).tsv"
printf 'file\tbytes\tchanges\tprogram\twall_median_s\tcpu_median_s\tpeak_kib\tnote\n' >"$RESULTS"
FAILED=0

# --- Measuring ---------------------------------------------------------------
# measure PROGRAM ARGS...: one run; sets M_WALL, M_CPU, M_RSS (KiB), M_STATUS.
measure() {
  local line
  line=$("$TOOLS/bench-measure" --timeout "$TIMEOUT" --output "$WORK/last-output.txt" -- "$@")
  read -r M_WALL M_CPU M_RSS M_STATUS <<<"$(sed -E 's/[a-z_]+=//g' <<<"$line")"
}

# Of the numbers given, one per word.
median() { tr ' ' '\n' <<<"$*" | grep . | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
largest() { tr ' ' '\n' <<<"$*" | grep . | sort -g | tail -n1; }
seconds() { awk -v s="$1" 'BEGIN {if (s<1) printf "%.3f s", s; else if (s<10) printf "%.2f s", s; else if (s<100) printf "%.1f s", s; else printf "%.0f s", s}'; }
ratio() {
  if [[ $2 == n/a ]]; then echo n/a; return; fi
  awk -v a="$1" -v b="$2" 'BEGIN {r=a/b; if (r<10) printf "%.2f", r; else if (r<100) printf "%.1f", r; else printf "%.0f", r}'
}

# The file a package changes, where the package expects it, in a new root.
fresh_root() {
  rm -rf "$SANDBOX"
  mkdir -p "$TARGET_DIR"
  cp "$1" "$TARGET_DIR/web.config"
}

# make_package FILE R DIR [--deepest]: the tables, expected.tsv and DIR.msi.
make_package() {
  local file=$1 changes=$2 dir=$3
  shift 3
  rm -rf "$dir" "$dir.msi"
  mkdir -p "$dir" &&
    cp "$ROOT"/bench/package/*.idt "$dir/" &&
    "$TOOLS/bench-gen" package --file "$file" --changes "$changes" --seed "$SEED" "$@" "$dir" &&
    sh "$ROOT/scripts/build-package.sh" "$dir" "$LIBRARY" "$dir.msi" >/dev/null
}

ROWS=()
row() { ROWS+=("$(printf '| %s ' "$@")|"); printf '%s\n' "${ROWS[-1]}" >&2; }
cell_failed() {
  log "$1, $2 changes: $3"
  row "$1" "$2" "FAILED" "" "" "" "" "" "" ""
  printf '%s\t\t%s\tTrellis\t\t\t\tFAILED\n' "$1" "$2" >>"$RESULTS"
  FAILED=1
}
# The rows so far, also when the run is stopped early.
print_table() {
  echo "| file | changes | Trellis | Expat | pugixml | libxml2 | Trellis/Expat | Trellis/pugixml | Trellis peak | bytes per input byte |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  ((${#ROWS[@]} == 0)) || printf '%s\n' "${ROWS[@]}"
  echo
  echo "Took $(((SECONDS - STARTED) / 60)) min $(((SECONDS - STARTED) % 60)) s; every figure is in $RESULTS."
}

# run_cell LABEL FILE PACKAGE_DIR CHANGES: N runs of Trellis and the
# anchors, interleaved, then one row. Returns 3 when Trellis timed out.
run_cell() {
  local label=$1 file=$2 pkg=$3 changes=$4 bytes
  bytes=$(stat -c %s "$file")
  local -A times=() peaks=() failed=()
  local run program note=""
  for ((run = 1; run <= RUNS; run++)); do
    fresh_root "$file"
    measure "$HOST" install "$pkg.msi" --root "$SANDBOX"
    if [[ $M_STATUS == timeout ]]; then
      log "$label, $changes changes: Trellis took over $TIMEOUT s; skipped"
      row "$label" "$changes" "> $TIMEOUT s (skipped)" "" "" "" "" "" "" ""
      printf '%s\t%s\t%s\tTrellis\t\t\t\ttimeout\n' "$label" "$bytes" "$changes" >>"$RESULTS"
      return 3
    fi
    if [[ $M_STATUS != 0 ]]; then
      log "$label, $changes changes: trellis-host failed ($M_STATUS):"
      sed 's/^/    /' "$WORK/last-output.txt" >&2
      note="FAILED"
      break
    fi
    times[Trellis]+="$M_WALL:$M_CPU " peaks[Trellis]+="$M_RSS "
    if ((run == 1)); then
      # The check must be able to fail: the unchanged file does not pass it.
      if "$TOOLS/bench-verify" "$file" "$file" "$pkg/expected.tsv" >/dev/null 2>&1; then
        log "$label: bench-verify accepts the unchanged file; its expectations prove nothing"
        note="FAILED"
        break
      fi
      if ! "$TOOLS/bench-verify" "$file" "$TARGET_DIR/web.config" "$pkg/expected.tsv" >"$WORK/verify.txt" 2>&1; then
        log "$label, $changes changes: the merged file is WRONG:"
        sed 's/^/    /' "$WORK/verify.txt" >&2
        note="WRONG"
        break
      fi
    fi
    for program in Expat pugixml libxml2; do
      case $program in
        Expat) measure "$TOOLS/anchor-expat" "$file" ;;
        pugixml) measure "$TOOLS/anchor-pugixml" "$file" "$OUT" ;;
        libxml2) measure "$TOOLS/anchor-libxml2" "$file" "$OUT" ;;
      esac
      rm -f "$OUT"
      if [[ $M_STATUS == 0 ]]; then
        times[$program]+="$M_WALL:$M_CPU " peaks[$program]+="$M_RSS "
      else
        failed[$program]=1
      fi
    done
  done
  rm -rf "$SANDBOX"
  if [[ -n $note ]]; then
    FAILED=1
    row "$label" "$changes" "$note" "" "" "" "" "" "" ""
    printf '%s\t%s\t%s\tTrellis\t\t\t\t%s\n' "$label" "$bytes" "$changes" "$note" >>"$RESULTS"
    return 0
  fi

  local -A shown=() value=([Expat]=n/a [pugixml]=n/a)
  local walls cpus
  for program in Trellis Expat pugixml libxml2; do
    if [[ -n ${failed[$program]:-} || -z ${times[$program]:-} ]]; then
      shown[$program]="n/a"
      printf '%s\t%s\t%s\t%s\t\t\t\tfailed\n' "$label" "$bytes" "$changes" "$program" >>"$RESULTS"
      continue
    fi
    walls=$(median "$(tr ' ' '\n' <<<"${times[$program]}" | cut -d: -f1)")
    cpus=$(median "$(tr ' ' '\n' <<<"${times[$program]}" | cut -d: -f2)")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t\n' "$label" "$bytes" "$changes" "$program" "$walls" "$cpus" \
      "$(largest "${peaks[$program]}")" >>"$RESULTS"
    if [[ $METRIC == wall ]]; then value[$program]=$walls; else value[$program]=$cpus; fi
    shown[$program]=$(seconds "${value[$program]}")
  done
  local peak
  peak=$(largest "${peaks[Trellis]}")
  row "$label" "$changes" "${shown[Trellis]}" "${shown[Expat]}" "${shown[pugixml]}" "${shown[libxml2]}" \
    "$(ratio "${value[Trellis]}" "${value[Expat]}")" "$(ratio "${value[Trellis]}" "${value[pugixml]}")" \
    "$(awk -v k="$peak" 'BEGIN {printf "%.0f MiB", k/1024}')" \
    "$(awk -v k="$peak" -v b="$bytes" 'BEGIN {printf "%.1f", k*1024/b}')"
}

# A generated file is kept while the generator that wrote it is unchanged.
config_file() {
  local f="$WORK/files/config-${1}MiB-seed$SEED-$EOL.xml"
  if [[ ! -f $f || "$TOOLS/bench-gen" -nt $f ]]; then
    log "writing $(basename "$f")"
    "$TOOLS/bench-gen" config --bytes $(($1 * 1048576)) --seed "$SEED" --eol "$EOL" "$f.part" && mv "$f.part" "$f"
  fi
  echo "$f"
}

trap 'print_table' EXIT

# --- The header ---------------------------------------------------------------
{
  echo "Trellis benchmark, $(date '+%Y-%m-%d %H:%M:%S')"
  echo "- commit $(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown), Release build in $BUILD"
  echo "- $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "- medians of $RUNS run(s), $METRIC-clock time; peak memory is the largest of the runs; seed $SEED, $EOL line ends"
} | tee "$WORK/header.txt"

# What a run costs when there is almost nothing to do: the host, the package
# and the library's start.
base="$WORK/files/base-seed$SEED-$EOL.xml"
"$TOOLS/bench-gen" config --bytes 4096 --seed "$SEED" --eol "$EOL" "$base"
make_package "$base" 1 "$WORK/packages/base"
base_walls=() base_peaks=()
for ((run = 1; run <= RUNS; run++)); do
  fresh_root "$base"
  measure "$HOST" install "$WORK/packages/base.msi" --root "$SANDBOX"
  [[ $M_STATUS == 0 ]] || { sed 's/^/    /' "$WORK/last-output.txt" >&2; die "trellis-host failed on the smallest package"; }
  if [[ $METRIC == wall ]]; then base_walls+=("$M_WALL"); else base_walls+=("$M_CPU"); fi
  base_peaks+=("$M_RSS")
done
echo "- a run with 1 change to a 4 KiB file takes $(seconds "$(median "${base_walls[@]}")") and \
$(awk -v k="$(largest "${base_peaks[@]}")" 'BEGIN {printf "%.1f", k/1024}') MiB: the host's own share of every figure"
echo

# --- The cells ----------------------------------------------------------------
TIMED_OUT=()   # "size:changes" of cells that took too long
too_slow() {
  local t
  for t in "${TIMED_OUT[@]}"; do
    if ((${t%%:*} <= $1 && ${t##*:} <= $2)); then return 0; fi
  done
  return 1
}

IFS=, read -r -a sizes <<<"$SIZES"
IFS=, read -r -a changes <<<"$CHANGES"
for size in "${sizes[@]}"; do
  for r in "${changes[@]}"; do
    if ((${#TIMED_OUT[@]})) && too_slow "$size" "$r"; then
      log "$size MiB, $r changes: skipped (a smaller cell took over $TIMEOUT s)"
      row "$size MiB" "$r" "skipped" "" "" "" "" "" "" ""
      continue
    fi
    pkg="$WORK/packages/config-${size}MiB-r$r"
    if ! file=$(config_file "$size") || ! make_package "$file" "$r" "$pkg"; then
      cell_failed "$size MiB" "$r" "the file or the package could not be made"
      continue
    fi
    log "$size MiB, $r changes"
    run_cell "$size MiB" "$file" "$pkg" "$r" || TIMED_OUT+=("$size:$r")
  done
done

if [[ $NESTING != none ]]; then
  IFS=, read -r -a depths <<<"$NESTING"
  nest_timed_out=0
  for depth in "${depths[@]}"; do
    if ((nest_timed_out && depth >= nest_timed_out)); then
      row "nested $depth" 5 "skipped" "" "" "" "" "" "" ""
      continue
    fi
    file="$WORK/files/nested-$depth-$EOL.xml"
    pkg="$WORK/packages/nested-$depth"
    if ! { [[ -f $file && ! "$TOOLS/bench-gen" -nt $file ]] ||
           "$TOOLS/bench-gen" nested --depth "$depth" --eol "$EOL" "$file"; } ||
       ! make_package "$file" 5 "$pkg" --deepest; then
      cell_failed "nested $depth" 5 "the file or the package could not be made"
      continue
    fi
    log "$depth nested elements, 5 changes at the deepest level rows can reach"
    run_cell "nested $depth" "$file" "$pkg" 5 || nest_timed_out=$depth
  done
fi

trap - EXIT
print_table
exit "$FAILED"
