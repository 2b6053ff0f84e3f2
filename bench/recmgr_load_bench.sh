#!/usr/bin/env bash
# `recmgr load` end to end: a generated sequential file of payment-like
# records (44 bytes, the three duplicate keys of sample/ddf/PagamH.xdf) into a
# fresh data file, timed as an administrator would run it.
#   bench/recmgr_load_bench.sh [RECORDS]   (default 1,000,000)
#   BUILD=build/other bench/recmgr_load_bench.sh ...
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
build="${BUILD:-build/release}"
dir="$(realpath -m "$build/bench-load")"
mkdir -p "$dir"
seq="$dir/payments-$records.seq"
if [ ! -f "$seq" ]; then
  python3 - "$records" "$seq" <<'PY'
import random, struct, sys
n, path = int(sys.argv[1]), sys.argv[2]
rng = random.Random(42)
with open(path, "wb") as out:
    for _ in range(n):
        r = bytearray(b" " * 44)
        r[0] = 0x80 + rng.randrange(100); r[1] = 0x80 + rng.randrange(100)
        r[2] = 0x94; r[3] = 0x80 + 20 + rng.randrange(7)
        r[4] = 0x81 + rng.randrange(12); r[5] = 0x81 + rng.randrange(28)
        r[8] = 65 + rng.randrange(26); r[9] = 65 + rng.randrange(26)
        r[35:39] = struct.pack("<I", rng.getrandbits(32))
        r[39] = ord("NS"[rng.randrange(2)])
        r[40] = 0x80 + rng.randrange(8); r[41] = 0x80 + rng.randrange(100)
        out.write(b"44," + bytes(r) + b"\r\n")
    out.write(b"\x1a")
PY
fi
rm -f "$dir/load.dat" "$dir/load.dat-wal" "$dir/load.dat-shm" "$dir/load.dat-lck"
"$build/tools/recmgr/recmgr" create "$dir/load.dat" sample/ddf/PagamH.xdf
start=$(date +%s.%N)
/usr/bin/time -f "recmgr load: %e s wall, %M KiB peak RSS" \
  "$build/tools/recmgr/recmgr" load "$dir/load.dat" "$seq"
end=$(date +%s.%N)
awk -v n="$records" -v s="$start" -v e="$end" \
  'BEGIN { printf "recmgr load: %d records, %.0f records/s\n", n, n / (e - s) }'
