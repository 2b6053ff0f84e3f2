#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target (or the ones named) for
# SECONDS each, default 30, two at a time. Each target starts from a copy of
# its seeds in fuzz/corpus/<target>/ in a temporary working corpus, so the
# seed folders never grow. Fails when any target finds a crash, a leak, a
# sanitizer report, a time-out or a broken check; the inputs that did so are
# kept in build/fuzz/findings/<target>/ and the end of the target's log is
# shown.
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
[ $# -gt 0 ] && shift
jobs="${FUZZ_JOBS:-2}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work="$(mktemp -d "$base/telvoran-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT
findings="$PWD/build/fuzz/findings"
bin="$PWD/build/fuzz/fuzz"

run_one() {
  local t="$1" dir="$work/$1"
  mkdir -p "$dir/corpus" "$dir/tmp" "$dir/artifacts"
  cp fuzz/corpus/"$t"/* "$dir/corpus/" 2> /dev/null || true
  local rc=0
  (cd "$dir" && TMPDIR="$dir/tmp" nice -n 19 "$bin/$t" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" corpus \
    > "$dir/log" 2>&1) || rc=$?
  local execs
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)"
  if [ "$rc" -ne 0 ]; then
    mkdir -p "$findings/$t"
    cp "$dir"/artifacts/* "$findings/$t/" 2> /dev/null || true
    echo "fuzz: $t FAILED (exit $rc, ${execs:-?} runs); inputs in $findings/$t"
    tail -40 "$dir/log"
    touch "$work/failed"
  else
    echo "fuzz: $t ok (${seconds}s, ${execs:-?} runs, corpus $(ls "$dir/corpus" | wc -l) inputs)"
  fi
}

for t in "${targets[@]}"; do
  [ -x "$bin/$t" ] || { echo "fuzz: no target $t" >&2; exit 2; }
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_one "$t" &
done
wait
if [ -e "$work/failed" ]; then
  echo "fuzz: findings above" >&2
  exit 1
fi
echo "fuzz: no findings"
