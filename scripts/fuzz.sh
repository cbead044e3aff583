#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in their own tree,
# build/fuzz, and runs each in turn for the given number of seconds (default
# 30) over its seed corpus, the inputs that once broke it, and what earlier
# runs found. Fails on the first crash, hang (10 s for one input), leak or
# sanitizer report; the input is then kept in build/fuzz/crashes/ and
# reproduced by running the target on it:
#   build/fuzz/fuzz/fuzz_xml_edits build/fuzz/crashes/xml_edits-crash-...
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
# Targets: xml_edits, custom_action_data, condition_format (all by default).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TRELLIS_BUILD_DIR:-$ROOT/build}"
TREE="$BUILD/fuzz"
SECONDS_PER_TARGET="${1:-30}"
shift || true
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(xml_edits custom_action_data condition_format)
# Inputs stay small, so that the work one input can ask for stays bounded.
MAX_LEN=4096

if ! [[ $SECONDS_PER_TARGET =~ ^[0-9]+$ ]] || ((SECONDS_PER_TARGET == 0)); then
  echo "usage: scripts/fuzz.sh [seconds-per-target] [target...]" >&2
  exit 2
fi
for tool in clang-14 clang++-14; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$TREE"
cmake -G Ninja -S "$ROOT" -B "$TREE" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DTRELLIS_FUZZ=ON -DTRELLIS_BUILD_TESTS=OFF "${launcher[@]}" >"$TREE.configure.log" 2>&1 ||
  { cat "$TREE.configure.log"; echo "fuzz.sh: configuring $TREE failed" >&2; exit 1; }
cmake --build "$TREE" -j"${TRELLIS_JOBS:-2}"

mkdir -p "$TREE/crashes"
for target in "${TARGETS[@]}"; do
  program="$TREE/fuzz/fuzz_$target"
  seeds="$ROOT/fuzz/corpus/$target"
  [[ -x $program && -d $seeds ]] || { echo "fuzz.sh: no target $target" >&2; exit 2; }
  # New inputs go into the build tree's corpus; the checked-in ones are only read.
  work="$TREE/corpus/$target"
  mkdir -p "$work"
  # libFuzzer only ever adds to it; past a few thousand inputs, keep only
  # those that reach something the others do not.
  if (($(find "$work" -type f | wc -l) > 3000)); then
    rm -rf "$work.merged" && mkdir -p "$work.merged"
    nice "$program" -merge=1 -max_len=$MAX_LEN -timeout=10 -rss_limit_mb=2048 "$work.merged" "$work" \
      >"$TREE/$target.merge.log" 2>&1 ||
      { tail -n 20 "$TREE/$target.merge.log" >&2; echo "fuzz: $target: merging the corpus failed" >&2; exit 1; }
    rm -rf "$work" && mv "$work.merged" "$work"
  fi
  inputs=("$work" "$seeds")
  [[ -d $ROOT/fuzz/regressions/$target ]] && inputs+=("$ROOT/fuzz/regressions/$target")
  log="$TREE/$target.log"
  echo "fuzz: $target for $SECONDS_PER_TARGET s (log: $log)"
  status=0
  nice "$program" -max_total_time="$SECONDS_PER_TARGET" -max_len=$MAX_LEN -timeout=10 -rss_limit_mb=2048 \
    -dict="$ROOT/fuzz/dict/$target.dict" -artifact_prefix="$TREE/crashes/$target-" -print_final_stats=1 \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  done_line="$(grep -aE '^#[0-9]+[[:space:]]+DONE[[:space:]]' "$log" | tail -n1 || true)"
  runs="$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n1)"
  if ((status != 0)) || [[ -z $done_line ]]; then
    grep -aE 'ERROR|failed|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || tail -n 40 "$log" >&2
    echo "fuzz: $target FAILED (exit $status); the input is in $TREE/crashes/" >&2
    exit 1
  fi
  cov="$(sed -nE 's/.* cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/cov \1, ft \2, corpus \3/p' <<<"$done_line")"
  echo "fuzz: $target: ${runs:-?} runs, $cov, no crash"
done
