#!/usr/bin/env bash
# The batch printer on a large generated portfolio against the SQL baseline.
#   bench/report_bench.sh [FACTOR]   (1: 1,000 communities, 40,000 owners,
#                                     2,000,000 payments, 400,000 collections)
#   BUILD=build/other bench/report_bench.sh ...   (another release build; its
#                                     portfolio then lives inside that build)
set -euo pipefail
cd "$(dirname "$0")/.."
factor="${1:-1}"
build="${BUILD:-build/release}"
if [ -n "${BUILD:-}" ]; then
  dir="$(realpath -m "$build/bench-report-$factor")"
else
  dir="$(realpath -m build/bench-report-$factor)"
fi
if [ ! -f "$dir/scaled" ]; then
  scripts/demo-prepare "$dir" "$build" >/dev/null
  # Community codes have four digits: at most 9,999 communities.
  communities=$((1000 * factor > 9999 ? 9999 : 1000 * factor))
  "$build/tools/demodata/demodata" scale "$dir/root" --communities $communities \
    --owners $((40000 * factor)) --payments $((2000000 * factor)) \
    --collections $((400000 * factor)) --seed 7
  touch "$dir/scaled"
fi
source "$dir/env"
cd "$ZELROOT"
/usr/bin/time -f "telvoran-print: %e s wall, %M KiB peak RSS" \
  "$OLDPWD/$build/tools/telvoran_print/telvoran-print" 31/12/2026 1 0 9999 9999 1 --no-print-program
ls -l "$ZELTMP/zizavezu.tmp" | awk '{print "print file: " $5 " bytes"}'
/usr/bin/time -f "baseline: %e s wall, %M KiB peak RSS" \
  "$OLDPWD/$build/bench/report_baseline" "$ZELROOT/DADES" 20261231
