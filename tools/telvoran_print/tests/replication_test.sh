#!/usr/bin/env bash
# The batch printer and the module on a primary server and its streaming
# hot standby, both throwaway servers of this test's own:
#   replication_test.sh SOURCE_DIR BUILD_DIR
# - printed from the standby (ServidorLectura) the demo's print files are
#   the files' ones, byte for byte; a write the standby cannot take is
#   refused naming the standby;
# - a run on the standby while the primary takes a load sees the data as of
#   its snapshot;
# - the primary crashed (-m immediate) and the standby promoted: with
#   Servidor naming both hosts (target_session_attrs=read-write), the module
#   left open and the batch printer print from the new primary on their
#   next run.
# Replication is waited for on the servers' WAL positions, never a sleep.
set -euo pipefail
src="$1"
build="$2"
command -v tmux >/dev/null || { echo "tmux not installed: skipped"; exit 0; }
source "$src/scripts/tmux-test-lib.sh"
tmux_test_init telvoran-replica
chmod 755 "$work"
primary="$work/primary"
standby="$work/standby"
servers() {
  "$src/scripts/pg-test-server" stop "$standby" >/dev/null 2>&1 || true
  "$src/scripts/pg-test-server" stop "$primary" >/dev/null 2>&1 || true
}
trap 'tm kill-server 2>/dev/null || true; servers; rm -rf "$work"' EXIT
set +e
p="$("$src/scripts/pg-test-server" start "$primary")"
rc=$?
set -e
if [ $rc -eq 3 ]; then echo "no PostgreSQL server installed: skipped"; exit 0; fi
[ $rc -eq 0 ] || fail "the primary did not start"
s="$("$src/scripts/pg-test-server" standby "$standby" "$primary")" || fail "the standby did not start"
bin="$build/tools/telvoran_print/telvoran-print"
recmgr="$build/tools/recmgr/recmgr"

# Until the standby has replayed all the primary wrote so far.
replayed() { [ "$(psql -qAtX -d "$s" -c "SELECT pg_last_wal_replay_lsn() >= '$1'")" = t ]; }
caught_up() {
  poll 300 replayed "$(psql -qAtX -d "$p" -c "SELECT pg_current_wal_insert_lsn()")" ||
    fail "the standby did not catch up"
}
setting() {  # KEY VALUE: replaces or adds the key of [Dades]
  sed -i "/^$1=/d" Nuva.ini
  sed -i "s|^\[Dades\]\r\$|[Dades]\r\n$1=${2//|/\\|}\r|" Nuva.ini
}

"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
runs=("31/12/2026 1 0 999 999 1" "31/12/2026 2 3 4 12 2" "30/11/2026 1 0 999 999 0")
print_all() {  # PREFIX
  local i=0
  for r in "${runs[@]}"; do
    # shellcheck disable=SC2086
    "$bin" $r --no-print-program 2>"$work/err" || fail "run '$r' on $1: $(cat "$work/err")"
    cp "${ZELTMP}zizavezu.tmp" "$work/$1-$i.tmp"
    i=$((i + 1))
  done
}
print_all files
"$recmgr" migrate "$ZELROOT" --server "$p" >/dev/null || fail "migrate"
caught_up
mv DADES "$work/DADES.files"
printf '\r\n[Dades]\r\n' >>Nuva.ini

# From the standby alone (Servidor names no server that answers).
setting Servidor "host=$work/nowhere dbname=telvoran_test"
setting ServidorLectura "$s"
print_all standby
for f in "$work"/files-*.tmp; do
  cmp -s "$f" "${f/files-/standby-}" || fail "$(basename "$f") differs on the standby"
done

# A data file missing on the standby cannot be made there: refused, naming
# the standby.
psql -qAtX -d "$p" -c "UPDATE rm_files SET name = 'gone'::bytea WHERE name = 'DADES/THRebut.dat'::bytea"
caught_up
set +e
"$bin" 31/12/2026 1 0 999 999 1 --no-print-program 2>"$work/err"; rc=$?
set -e
[ $rc -eq 1 ] && grep -q "THRebut (2): el servidor $standby.* de reserva" "$work/err" ||
  fail "a write on the standby: $rc $(cat "$work/err")"
psql -qAtX -d "$p" -c "UPDATE rm_files SET name = 'DADES/THRebut.dat'::bytea WHERE name = 'gone'::bytea"

# A larger portfolio: a run on the standby, paused halfway while the
# primary takes a load of collections, prints what the standby held when
# it began.
cp -r "$src/sample" "$work/big"
"$build/tools/demodata/demodata" scale "$work/big" --communities 200 --owners 8000 \
  --payments 400000 --collections 80000 --seed 3 >/dev/null
"$recmgr" migrate "$work/big" --server "$p" --replace >/dev/null || fail "migrate big"
caught_up
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program || fail "the big run"
cp "${ZELTMP}zizavezu.tmp" "$work/before-load.tmp"
"$recmgr" --server "$p" save DADES/CobramH.dat "$work/collections.seq"
rm -f "${ZELTMP}zizavezu.tmp"
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program 2>"$work/err" &
printer=$!
# (a quarter of its print file written: every file has been read, so each
# has its snapshot)
quarter=$(($(stat -c %s "$work/before-load.tmp") / 4))
written() { [ "$(stat -c %s "${ZELTMP}"zizavezu.tmp.new-* 2>/dev/null || echo 0)" -ge "$quarter" ]; }
poll 600 written || fail "the run did not get halfway"
kill -STOP $printer
"$recmgr" --server "$p" load DADES/CobramH.dat "$work/collections.seq" >/dev/null || fail "load"
caught_up
kill -CONT $printer
wait $printer || fail "the run during the load: $(cat "$work/err")"
cmp -s "${ZELTMP}zizavezu.tmp" "$work/before-load.tmp" || fail "the paused run saw the load"
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program || fail "the run after the load"
cmp -s "${ZELTMP}zizavezu.tmp" "$work/before-load.tmp" && fail "the next run did not see the load"
cp "${ZELTMP}zizavezu.tmp" "$work/after-load.tmp"

# Failover. Servidor names both servers, the writable one wanted; readers
# go there too.
setting Servidor "host=$primary,$standby dbname=telvoran_test target_session_attrs=read-write"
setting ServidorLectura ""
TMUX_WAIT=600
tmux_start_module "$build/driver/TELVORAN"
print_from_form() {
  rm -f "${ZELTMP}statements.pdf"
  confirm_print_run
  wait_for "statements.pdf"
  keys Enter
  wait_gone "statements.pdf"
  [ -s "${ZELTMP}statements.pdf" ] || fail "no PDF $1"
}
wait_for "Data de l'informe"
print_from_form "from the primary"
caught_up
"$src/scripts/pg-test-server" crash "$primary"
"$src/scripts/pg-test-server" promote "$standby"
promoted() { [ "$(psql -qAtX -d "$s" -c "SELECT pg_is_in_recovery()")" = f ]; }
poll 300 promoted || fail "the standby was not promoted"
print_from_form "after the failover"
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program 2>"$work/err" ||
  fail "the batch printer after the failover: $(cat "$work/err")"
cmp -s "${ZELTMP}zizavezu.tmp" "$work/after-load.tmp" || fail "the new primary printed other statements"
tm kill-server 2>/dev/null || true
echo "replication: all checks passed"
