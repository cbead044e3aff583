#!/usr/bin/env bash
# Mutation run: how many small faults in the engine's sources the native unit
# tests catch. Each mutation of scripts/mutations.txt (one line each: an
# exact text of one source file and what replaces it) is applied in turn to a
# copy of the tree, never to the checkout itself; the unit-test program is
# rebuilt without sanitizers and run as ctest runs it. A mutation is killed
# when the tests fail, crash or time out, survives when they pass, and is not
# counted when its text is not found (or not found once) or it does not
# compile.
#
#   scripts/mutate.sh [options]
#     --only LABEL|N    run only this mutation (repeat for more)
#     --list            show the list and whether each text is found once
#     --jobs N          parallel build jobs (default 2)
#     --repo DIR        the tree to measure (default: this checkout)
#     --results FILE    the table of outcomes (default build/mutate/results.tsv)
#     --skip PATTERN    GoogleTest filter of tests to leave out (default: none)
#     --timeout S       seconds one test run may take (default: 5 x the
#                       unmutated run, at least 60)
#     --compare A B     the mutations whose outcome differs between two tables
#
# Work goes to build/mutate of this checkout: tree/ (the copy), build/ (Ninja,
# -O1, no sanitizers, ccache when installed), logs/ (the output of each
# mutation's build and tests). The copy keeps the file times of what did not
# change, so a run rebuilds only what its mutations touch.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$ROOT/build/mutate"
LIST="$ROOT/scripts/mutations.txt"
REPO="$ROOT"
JOBS="${TRELLIS_JOBS:-2}"
RESULTS=""
TIMEOUT=""
LIST_ONLY=0
ONLY=()
SKIP=""

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -n 's/^# \{0,1\}//p' >&2
  exit 2
}

# The list's reader and the one place that edits a source file.
read -r -d '' HELPER <<'EOF' || true
import re
import signal
import sys

signal.signal(signal.SIGPIPE, signal.SIG_DFL)

SEPARATOR = re.compile(r"\s==>(?:\s|$)")


def parse(path):
    mutations, current, labels = [], None, set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            text = line.strip()
            if not text or text.startswith("#"):
                continue
            if text.startswith("@"):
                current = text[1:].strip()
                continue
            match = re.match(r"(\S+)\s+(?:#(\d+)\s+)?(.*)$", text)
            parts = SEPARATOR.split(match.group(3), maxsplit=1) if match else []
            if current is None or len(parts) != 2 or not parts[0].strip():
                sys.exit(f"{path}:{number}: expected 'LABEL [#N] ORIGINAL ==> REPLACEMENT' after an '@ FILE' line")
            label, original, replacement = match.group(1), parts[0].strip(), parts[1].strip()
            if label in labels or label.isdigit():
                sys.exit(f"{path}:{number}: label {label} is used twice or is a number")
            if original == replacement:
                sys.exit(f"{path}:{number}: {label} changes nothing")
            labels.add(label)
            mutations.append((label, current, int(match.group(2) or 0), original, replacement))
    return mutations


def locate(tree, mutation):
    """The file's text and where the original starts, or a reason."""
    label, name, occurrence, original, _ = mutation
    try:
        with open(f"{tree}/{name}", encoding="utf-8", newline="") as f:
            text = f.read()
    except OSError:
        return None, "file not found"
    count = text.count(original)
    if count == 0:
        return text, "text not found"
    if occurrence == 0 and count > 1:
        return text, f"text found {count} times"
    if occurrence > count:
        return text, f"text found {count} times, not {occurrence}"
    at = -1
    for _ in range(max(occurrence, 1)):
        at = text.find(original, at + 1)
    return text, at


command, path = sys.argv[1], sys.argv[2]
mutations = parse(path)
if command == "table":
    for n, (label, name, *_rest) in enumerate(mutations, 1):
        print(f"{n}\t{label}\t{name}")
elif command == "check":
    tree = sys.argv[3]
    for n, mutation in enumerate(mutations, 1):
        _, where = locate(tree, mutation)
        state = "ok" if isinstance(where, int) else where
        print(f"{n:4d}  {mutation[0]:34s} {mutation[1]}  {state}")
elif command == "apply":
    tree, n = sys.argv[3], int(sys.argv[4])
    mutation = mutations[n - 1]
    text, where = locate(tree, mutation)
    if not isinstance(where, int):
        print(where)
        sys.exit(3)
    with open(f"{tree}/{mutation[1]}", "w", encoding="utf-8", newline="") as f:
        f.write(text[:where] + mutation[4] + text[where + len(mutation[3]):])
EOF

compare() { # old.tsv new.tsv
  awk -F'\t' '
    FNR == 1 { next }
    NR == FNR { before[$2] = $4; next }
    { seen[$2] = 1 }
    ($2 in before) && before[$2] != $4 { printf "  %-34s %s -> %s\n", $2, before[$2], $4; changed++ }
    !($2 in before) { printf "  %-34s (new) %s\n", $2, $4; changed++ }
    END { for (label in before) if (!(label in seen)) { printf "  %-34s %s -> (gone)\n", label, before[label]; changed++ }
          if (!changed) print "  no mutation changed its outcome" }
  ' "$1" "$2" | sort
  for table in "$1" "$2"; do
    awk -F'\t' -v name="$table" '
      FNR > 1 { count[$4]++ }
      END { n = count["killed"] + count["survived"]
            printf "%s: killed %d of %d (%.1f%%), %d survived, %d not applicable, %d did not compile\n",
                   name, count["killed"], n, n ? 100 * count["killed"] / n : 0, count["survived"],
                   count["n/a"], count["no-compile"] }' "$table"
  done
}

while (($#)); do
  case $1 in
    --only) ONLY+=("${2:?--only needs a label or a number}"); shift 2 ;;
    --list) LIST_ONLY=1; shift ;;
    --jobs) JOBS="${2:?}"; shift 2 ;;
    --repo) REPO="$(cd "${2:?}" && pwd)"; shift 2 ;;
    --results) RESULTS="${2:?}"; shift 2 ;;
    --skip) SKIP="${2?}"; shift 2 ;;
    --timeout) TIMEOUT="${2:?}"; shift 2 ;;
    --compare) compare "${2:?}" "${3:?}"; exit 0 ;;
    -h|--help) usage ;;
    *) echo "mutate: unknown option $1" >&2; usage ;;
  esac
done
[[ $JOBS =~ ^[1-9][0-9]*$ ]] || { echo "mutate: --jobs takes a number" >&2; exit 2; }
[[ -z $TIMEOUT || $TIMEOUT =~ ^[1-9][0-9]*$ ]] || { echo "mutate: --timeout takes seconds" >&2; exit 2; }
RESULTS="${RESULTS:-$WORK/results.tsv}"
TREE="$WORK/tree"
BUILD="$WORK/build"
LOGS="$WORK/logs"

table="$(python3 -c "$HELPER" table "$LIST")"
if ((LIST_ONLY)); then
  python3 -c "$HELPER" check "$LIST" "$REPO"
  exit 0
fi

# The selected mutations: number, label and file per line.
selected=()
while IFS=$'\t' read -r n label file; do
  if ((${#ONLY[@]})); then
    wanted=0
    for sel in "${ONLY[@]}"; do [[ $sel == "$n" || $sel == "$label" ]] && wanted=1; done
    ((wanted)) || continue
  fi
  selected+=("$n"$'\t'"$label"$'\t'"$file")
done <<<"$table"
((${#selected[@]})) || { echo "mutate: no mutation matches ${ONLY[*]}" >&2; exit 2; }

# The copy: files whose bytes differ from the tree's are copied with a new
# time, so that Ninja rebuilds them; files gone from the tree go.
sync_tree() {
  mkdir -p "$TREE"
  local f
  while IFS= read -r -d '' f; do
    if ! cmp -s "$REPO/$f" "$TREE/$f"; then
      mkdir -p "$TREE/$(dirname "$f")"
      rm -f "$TREE/$f"
      cp -P "$REPO/$f" "$TREE/$f"
    fi
  done < <(cd "$REPO" && find . \( -path ./build -o -path ./.git \) -prune -o \( -type f -o -type l \) -print0)
  while IFS= read -r -d '' f; do
    [[ -e $REPO/$f || -L $REPO/$f ]] || rm -f "$TREE/$f"
  done < <(cd "$TREE" && find . \( -type f -o -type l \) -print0)
}

# The mutated file goes back to its original bytes with a new time, on every
# way out.
current=""
child=""
restore() {
  if [[ -n $current ]]; then
    cp "$WORK/original" "$TREE/$current"
    current=""
  fi
}
on_exit() {
  [[ -n $child ]] && kill -- "-$child" 2>/dev/null
  restore
}
trap on_exit EXIT
trap 'echo; echo "mutate: interrupted" >&2; exit 130' INT TERM

# Tests write many small files and sync them: a private tmpfs over /tmp
# (where they make their scratch folders) keeps the disk out of the timing.
private_tmp=()
if unshare -m sh -c 'mount -t tmpfs none /tmp' 2>/dev/null; then
  private_tmp=(unshare -m sh -c 'mount -t tmpfs -o size=4g,mode=1777 mutate-tmp /tmp && exec "$@"' sh)
fi

build() { # log
  nice -n 10 ninja -C "$BUILD" -j"$JOBS" trellis_tests >"$1" 2>&1
}

# As ctest runs it (tests/CMakeLists.txt): in build/tests, with
# TRELLIS_FIXTURE_DIR; here all tests in one process, stopping at the first
# failure. Sets status: 0 passed, 124 timed out, else failed.
run_tests() { # log seconds
  local filter=()
  [[ -n $SKIP ]] && filter=("--gtest_filter=-$SKIP")
  status=0
  (cd "$BUILD/tests" && exec env TRELLIS_FIXTURE_DIR="$BUILD/fixtures" timeout -k 5 "$2" \
    "${private_tmp[@]}" nice -n 10 ./trellis_tests --gtest_fail_fast "${filter[@]}") >"$1" 2>&1 &
  child=$!
  wait "$child" || status=$?
  child=""
}

# The first test that failed, or what ended the run.
failure_of() { # log status
  local name
  name="$(sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' "$1" | head -n1)"
  if [[ -n $name ]]; then
    echo "$name"
  elif (($2 == 124 || $2 == 137)); then
    echo "timeout in $(sed -n 's/^\[ RUN      \] //p' "$1" | tail -n1)"
  else
    echo "exit $2 in $(sed -n 's/^\[ RUN      \] //p' "$1" | tail -n1)"
  fi
}

start=$SECONDS
mkdir -p "$WORK" "$LOGS"
echo "mutate: measuring $REPO with ${#selected[@]} mutations of $LIST"
sync_tree
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
linker=()
command -v ld.lld >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld)
cmake -G Ninja -S "$TREE" -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O1 \
  -DCMAKE_C_FLAGS_DEBUG=-O1 -DTRELLIS_SANITIZE=OFF "${launcher[@]}" "${linker[@]}" >"$WORK/configure.log" 2>&1 ||
  { cat "$WORK/configure.log"; echo "mutate: configuring $BUILD failed" >&2; exit 1; }

echo "mutate: building and testing the unmutated tree"
build "$LOGS/baseline.build.log" ||
  { tail -n 30 "$LOGS/baseline.build.log"; echo "mutate: the unmutated tree does not build (see $LOGS/baseline.build.log)" >&2; exit 1; }
tested=$SECONDS
run_tests "$LOGS/baseline.test.log" "${TIMEOUT:-600}"
baseline=$((SECONDS - tested))
if ((status != 0)); then
  grep -E '^\[  FAILED  \]|Failure' "$LOGS/baseline.test.log" | head -n 20 || true
  echo "mutate: the unmutated tree fails its tests ($(failure_of "$LOGS/baseline.test.log" "$status");" \
    "see $LOGS/baseline.test.log): fix that first, or remove $BUILD to rebuild it from scratch" >&2
  exit 1
fi
if [[ -z $TIMEOUT ]]; then
  TIMEOUT=$((5 * baseline))
  ((TIMEOUT >= 60)) || TIMEOUT=60
fi
echo "mutate: the tests pass in ${baseline} s; each mutation's run may take ${TIMEOUT} s${SKIP:+; left out: $SKIP}"

printf 'n\tlabel\tfile\toutcome\tseconds\tdetail\n' >"$RESULTS"
killed=0 survived=0 missing=0 broken=0
for entry in "${selected[@]}"; do
  IFS=$'\t' read -r n label file <<<"$entry"
  began=$SECONDS
  log="$LOGS/$n-$label"
  detail=""
  if [[ ! -f $TREE/$file ]]; then
    outcome="n/a" detail="file not found"
  else
    cp "$TREE/$file" "$WORK/original"
    current=$file
    if ! detail="$(python3 -c "$HELPER" apply "$LIST" "$TREE" "$n")"; then
      current=""
      outcome="n/a"
    elif ! build "$log.build.log"; then
      outcome="no-compile" detail="$(grep -m1 'error:' "$log.build.log" | sed 's/.*error: //')"
    else
      run_tests "$log.test.log" "$TIMEOUT"
      if ((status == 0)); then
        outcome="survived"
      else
        outcome="killed" detail="$(failure_of "$log.test.log" "$status")"
      fi
    fi
    restore
  fi
  case $outcome in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    n/a) missing=$((missing + 1)) ;;
    *) broken=$((broken + 1)) ;;
  esac
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$n" "$label" "$file" "$outcome" "$((SECONDS - began))" "$detail" >>"$RESULTS"
  printf '[%3s] %-10s %-34s %s (%d s)%s\n' "$n" "$outcome" "$label" "${file#src/}" "$((SECONDS - began))" \
    "${detail:+: $detail}"
done

counted=$((killed + survived))
percent="$(awk -v k="$killed" -v n="$counted" 'BEGIN { printf "%.1f", n ? 100 * k / n : 0 }')"
if ((survived)); then
  echo "mutate: survivors by file:"
  awk -F'\t' '$4 == "survived" { list[$3] = list[$3] " " $2 } END { for (f in list) print "  " f ":" list[f] }' \
    "$RESULTS" | sort
fi
elapsed=$((SECONDS - start))
echo "mutate: $((elapsed / 60)) min $((elapsed % 60)) s; outcomes in $RESULTS"
echo "mutate: killed $killed of $counted ($percent%), $survived survived, $missing not applicable, $broken did not compile"
