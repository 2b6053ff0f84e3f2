#!/usr/bin/env bash
# The batch printer with the data on a PostgreSQL server (a throwaway one,
# over its unix socket) against the same run on the data files, on the
# `demodata scale` portfolio; and `recmgr migrate` of that portfolio.
#   bench/server_bench.sh [FACTOR]   (1: 1,000 communities, 40,000 owners,
#                                     2,000,000 payments, 400,000 collections)
#   RUNS=n (5 unless set): the two runs alternate n times; medians printed.
#   BUILD=DIR: another release build (relative or absolute).
#   CONCURRENT=n (10 unless set): print runs at once from n temporary folders.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
factor="${1:-1}"
runs="${RUNS:-5}"
build="$(realpath -m "${BUILD:-build/release}")"
# The same portfolio as bench/report_bench.sh.
source bench/scaled_portfolio.sh
scaled_portfolio "$factor" "$build"
pg="$dir/pg"
times="$(mktemp)"
trap 'rm -f "$times"; "$src/scripts/pg-test-server" stop "$pg" >/dev/null 2>&1 || true' EXIT
conninfo="$("$src/scripts/pg-test-server" start "$pg")"

# The server's installation: the same root without its data files, naming
# the server in its Nuva.ini.
rm -rf "$dir/server-root"
mkdir "$dir/server-root"
for f in "$dir/root"/*; do
  [ "$(basename "$f")" = DADES ] || cp -r "$f" "$dir/server-root/"
done
printf '\r\n[Dades]\r\nServidor=%s\r\n' "$conninfo" >>"$dir/server-root/Nuva.ini"

records="$(for f in "$dir"/root/DADES/*.dat; do "$build/tools/recmgr/recmgr" stat "$f"; done |
  awk '/^records/ {n += $2} END {print n}')"
start=$(date +%s.%N)
/usr/bin/time -o "$times" -f "migrate %e %M" \
  "$build/tools/recmgr/recmgr" migrate "$dir/root" --server "$conninfo" >/dev/null
end=$(date +%s.%N)
awk -v n="$records" -v s="$start" -v e="$end" \
  'BEGIN { printf "recmgr migrate: %d records in %.2f s, %.0f records/s\n", n, e - s, n / (e - s) }'
awk '{print "recmgr migrate: " $3 " KiB peak RSS"}' "$times"
: >"$times"

printer="$build/tools/telvoran_print/telvoran-print"
measure() {  # NAME ROOT
  local name="$1" root="$2"
  (cd "$root" && ZELROOT="$root/" TELVORAN_SERVER_TRAFFIC=1 /usr/bin/time -o "$times" -a \
    -f "$name %e %M" "$printer" 31/12/2026 1 0 9999 9999 1 --no-print-program \
    >/dev/null 2>"$dir/$name.err")
  cp "$ZELTMP/zizavezu.tmp" "$dir/$name.tmp"
}
for i in $(seq "$runs"); do
  measure files "$dir/root"
  measure server "$dir/server-root"
done
cmp -s "$dir/files.tmp" "$dir/server.tmp" && echo "print files: the same" ||
  echo "print files: DIFFERENT"
median() { grep "^$1 " "$times" | awk '{print $'"$2"'}' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
for name in files server; do
  echo "$name: median $(median $name 2) s wall, $(median $name 3) KiB peak RSS ($runs runs)"
done
grep -h "^server-traffic" "$dir/server.err" | sed 's/^/server run: /'
awk -v f="$(median files 2)" -v s="$(median server 2)" -v factor="$factor" \
  'BEGIN { printf "factor %s: server/files %.2fx wall time\n", factor, s / f }'

# Ten workstations at once on the server, each with a temporary folder of
# its own: the throughput against one run alone, and every print file right.
concurrent="${CONCURRENT:-10}"
for w in $(seq "$concurrent"); do
  rm -rf "$dir/ws$w" && mkdir -p "$dir/ws$w"
  cp "$ZELTMP/Sessio.ini" "$ZELTMP/NuvaTerm.ini" "$dir/ws$w/"
done
start=$(date +%s.%N)
for w in $(seq "$concurrent"); do
  (cd "$dir/server-root" && ZELROOT="$dir/server-root/" ZELTMP="$dir/ws$w/" "$printer" \
    31/12/2026 1 0 9999 9999 1 --no-print-program >/dev/null 2>"$dir/ws$w.err") &
done
wait
end=$(date +%s.%N)
right=0
for w in $(seq "$concurrent"); do
  cmp -s "$dir/ws$w/zizavezu.tmp" "$dir/files.tmp" && right=$((right + 1))
done
awk -v n="$concurrent" -v s="$start" -v e="$end" -v one="$(median server 2)" -v right="$right" \
  'BEGIN { printf "%d runs at once: %.2f s wall, %.2fx the throughput of one run alone; %d of %d print files right\n",
           n, e - s, n * one / (e - s), right, n }'
