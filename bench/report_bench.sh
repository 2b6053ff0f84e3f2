#!/usr/bin/env bash
# The batch printer on a large generated portfolio against two baselines:
# the SQL baseline (one pass over the payment and collection records with
# SQLite, summing as a report must) and the reading floor (the same records
# stepped once in key order, nothing computed). The three programs run
# alternately RUNS times (5 unless set); the medians and the ratios are
# printed on the last lines.
#   bench/report_bench.sh [FACTOR]   (1: 1,000 communities, 40,000 owners,
#                                     2,000,000 payments, 400,000 collections)
#   BUILD=build/other bench/report_bench.sh ...   (another release build, a
#                                     relative or absolute path; its portfolio
#                                     then lives inside that build)
set -euo pipefail
cd "$(dirname "$0")/.."
factor="${1:-1}"
runs="${RUNS:-5}"
build="$(realpath -m "${BUILD:-build/release}")"
source bench/scaled_portfolio.sh
scaled_portfolio "$factor" "$build"
cd "$ZELROOT"
times="$(mktemp)"
trap 'rm -f "$times"' EXIT
# One run: NAME COMMAND...; appends "NAME seconds KiB" to the times file.
measure() {
  local name="$1"
  shift
  /usr/bin/time -o "$times" -a -f "$name %e %M" "$@" >/dev/null
}
for i in $(seq "$runs"); do
  measure printer "$build/tools/telvoran_print/telvoran-print" 31/12/2026 1 0 9999 9999 1 \
    --no-print-program
  measure baseline "$build/bench/report_baseline" "$ZELROOT/DADES" 20261231
  measure floor "$build/bench/report_floor" "$ZELROOT/DADES"
done
ls -l "$ZELTMP/zizavezu.tmp" | awk '{print "print file: " $5 " bytes"}'
median() { grep "^$1 " "$times" | awk '{print $'"$2"'}' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
for name in printer baseline floor; do
  echo "$name: median $(median $name 2) s wall, $(median $name 3) KiB peak RSS ($runs runs)"
done
awk -v p="$(median printer 2)" -v b="$(median baseline 2)" -v f="$(median floor 2)" \
  -v factor="$factor" 'BEGIN {
    printf "factor %s: printer/baseline %.2fx, printer/floor %.2fx\n", factor, p / b, p / f }'
