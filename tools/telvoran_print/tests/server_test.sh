#!/usr/bin/env bash
# The batch printer on a PostgreSQL server against the same runs on the
# data files, on the demo installation, with a throwaway server of its own:
#   server_test.sh SOURCE_DIR BUILD_DIR
# recmgr migrate copies the installation; the print files must be byte for
# byte the ones from the files. Then save and load both ways, and the server
# stopped during a run: a message, no hang, no print file handed on.
set -euo pipefail
src="$1"
build="$2"
work="$(mktemp -d /tmp/telvoran-server-XXXXXX)"
chmod 755 "$work"
pg="$work/pg"
cleanup() {
  "$src/scripts/pg-test-server" stop "$pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
set +e
conninfo="$("$src/scripts/pg-test-server" start "$pg")"
rc=$?
set -e
if [ $rc -eq 3 ]; then echo "no PostgreSQL server installed: skipped"; exit 0; fi
[ $rc -eq 0 ] || fail "the test server did not start"
recmgr="$build/tools/recmgr/recmgr"
bin="$build/tools/telvoran_print/telvoran-print"

"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
sums() { md5sum "$ZELROOT"/DADES/*.dat; }
before="$(sums)"

# The runs compared: everything, a range of communities and flats, copies 0
# (one per owner), another language.
runs=("31/12/2026 1 0 999 999 1" "31/12/2026 2 3 4 12 2" "30/11/2026 1 0 999 999 0")
print_all() {  # OUT_PREFIX
  local i=0
  for r in "${runs[@]}"; do
    # shellcheck disable=SC2086
    "$bin" $r --no-print-program || fail "run '$r' on $1"
    cp "${ZELTMP}zizavezu.tmp" "$work/$1-$i.tmp"
    i=$((i + 1))
  done
  sed -i 's/^Idioma=CAT/Idioma=SPA/' "${ZELTMP}NuvaTerm.ini"
  "$bin" 31/12/2026 1 0 999 999 1 --no-print-program || fail "run in Spanish on $1"
  grep -q "RESUMEN DE GASTOS" "${ZELTMP}zizavezu.tmp" || fail "the Spanish run on $1 is not Spanish"
  cp "${ZELTMP}zizavezu.tmp" "$work/$1-es.tmp"
  sed -i 's/^Idioma=SPA/Idioma=CAT/' "${ZELTMP}NuvaTerm.ini"
}
print_all files

# migrate: every data file once, counted; again only with --replace.
"$recmgr" migrate "$ZELROOT" --server "$conninfo" >"$work/migrate" || fail "migrate"
grep -q "^DADES/PagamH.dat: 258 registres$" "$work/migrate" || fail "migrate: $(cat "$work/migrate")"
grep -q "^migrate: 7 de 7 fitxers, 887 registres copiats$" "$work/migrate" ||
  fail "migrate total: $(cat "$work/migrate")"
set +e
"$recmgr" migrate "$ZELROOT" --server "$conninfo" >/dev/null 2>"$work/err"; rc=$?
set -e
[ $rc -eq 1 ] || fail "a second migrate gave $rc"
grep -q "DADES/PagamH.dat: estat 59 (el fitxer ja existeix); --replace el torna a copiar" "$work/err" || fail "second migrate: $(cat "$work/err")"
"$recmgr" migrate "$ZELROOT" --server "$conninfo" --replace >/dev/null || fail "migrate --replace"
[ "$(sums)" = "$before" ] || fail "migrate changed a data file"
# Every *.dat under the root that is not copied gets a line with its reason
# and counts in the total, and the run fails: a damaged one, a link, a
# folder.
mkdir -p VELL/Carpeta.dat
cp DADES/TDespesa.dat VELL/Malmes.dat
printf 'X' | dd of=VELL/Malmes.dat bs=1 count=1 conv=notrunc status=none
ln -s "$ZELROOT/DADES/TDespesa.dat" VELL/Enllac.dat
set +e
"$recmgr" migrate "$ZELROOT" --server "$conninfo" --replace >"$work/migrate" 2>"$work/err"; rc=$?
set -e
[ $rc -eq 1 ] || fail "a migrate that skipped files gave $rc"
for line in "migrate VELL/Malmes.dat: estat 30 (no és un fitxer de dades); no s'ha copiat" \
    "migrate VELL/Enllac.dat: és un enllaç, que no se segueix; no s'ha copiat" \
    "migrate VELL/Carpeta.dat: no és un fitxer regular; no s'ha copiat"; do
  grep -qxF "recmgr: $line" "$work/err" || fail "no '$line': $(cat "$work/err")"
done
grep -q "^migrate: 7 de 10 fitxers, 887 registres copiats$" "$work/migrate" ||
  fail "migrate total with skipped files: $(cat "$work/migrate")"
rm -r VELL
# A copy whose stored record count was changed is refused; the server keeps what it had.
mkdir -p "$work/odd/DADES" && cp DADES/TDespesa.dat "$work/odd/DADES/"
sqlite3 "$work/odd/DADES/TDespesa.dat" "UPDATE rm_file SET records = records + 1"
set +e
"$recmgr" migrate "$work/odd" --server "$conninfo" --replace >/dev/null 2>"$work/err"; rc=$?
set -e
[ $rc -eq 1 ] && grep -qxF "recmgr: migrate DADES/TDespesa.dat: estat 2 (error d'entrada/sortida)" "$work/err" &&
  "$recmgr" --server "$conninfo" stat DADES/TDespesa.dat | grep -q "^records 10$" || fail "miscounted: $(cat "$work/err")"

# save both ways: the server's records are the file's, in every key order.
for key in 0 1 2; do
  "$recmgr" save DADES/PagamH.dat "$work/file.seq" --key $key
  "$recmgr" --server "$conninfo" save DADES/PagamH.dat "$work/server.seq" --key $key
  cmp -s "$work/file.seq" "$work/server.seq" || fail "save --key $key differs"
done
# load: from the server's save into a new file, and into a new server file.
"$recmgr" create "$work/copy.dat" "$ZELROOT/ddf/PagamH.xdf"
"$recmgr" load "$work/copy.dat" "$work/server.seq"
"$recmgr" --server "$conninfo" create COPY/PagamH.dat "$ZELROOT/ddf/PagamH.xdf"
"$recmgr" --server "$conninfo" load COPY/PagamH.dat "$work/file.seq"
"$recmgr" stat "$work/copy.dat" >"$work/stat-file"
"$recmgr" --server "$conninfo" stat COPY/PagamH.dat >"$work/stat-server"
"$recmgr" stat DADES/PagamH.dat >"$work/stat-orig"
cmp -s "$work/stat-file" "$work/stat-orig" || fail "stat of the loaded file"
cmp -s "$work/stat-server" "$work/stat-orig" || fail "stat of the loaded server file"

# The installation on the server: the files moved away, so nothing can be
# read from them.
printf '\r\n[Dades]\r\nServidor=%s\r\n' "$conninfo" >>Nuva.ini
mv DADES "$work/DADES.files"
print_all server
for f in "$work"/files-*.tmp; do
  cmp "$f" "${f/files-/server-}" || fail "$(basename "$f") differs on the server"
done

# A role that may only read prints the same statements; a write through it
# is refused (status 2) and changes nothing.
psql -qAtX -d "$conninfo" -c "CREATE ROLE telvoran_lectura LOGIN" \
  -c "GRANT SELECT ON ALL TABLES IN SCHEMA public TO telvoran_lectura" >/dev/null
reader="$conninfo user=telvoran_lectura"
sed -i "s|^Servidor=.*|Servidor=$reader\r|" Nuva.ini
"$bin" 31/12/2026 1 0 999 999 1 --no-print-program || fail "run as the reading role"
cmp "${ZELTMP}zizavezu.tmp" "$work/files-0.tmp" || fail "the reading role's print file differs"
set +e
"$recmgr" --server "$reader" save DADES/TDespesa.dat "$work/types.seq"
"$recmgr" --server "$reader" load DADES/TDespesa.dat "$work/types.seq" 2>"$work/err"; rc=$?
set -e
[ $rc -eq 1 ] && grep -q "^recmgr: load: estat 2 (error d'entrada/sortida: permission denied for table rm_" "$work/err" ||
  fail "a write as the reading role: $rc $(cat "$work/err")"
"$recmgr" --server "$conninfo" stat DADES/TDespesa.dat | grep -q "^records 10$" ||
  fail "the refused write changed the file"
# A write waiting past lock_timeout for the file's row, held FOR UPDATE by another session: 85.
psql -qAtX -d "$conninfo application_name=holder" -c BEGIN -c "SELECT FROM rm_files
  WHERE name = 'DADES/TDespesa.dat' FOR UPDATE" -c "SELECT pg_sleep(60)" >/dev/null 2>&1 &
holder="FROM pg_stat_activity WHERE application_name = 'holder' AND query LIKE '%pg_sleep%'"
for _ in $(seq 500); do [ "$(psql -qAtX -d "$conninfo" -c "SELECT count(*) $holder")" = 0 ] || break; sleep 0.02; done
set +e
"$recmgr" --server "$conninfo options=-clock_timeout=1s" load DADES/TDespesa.dat "$work/types.seq" 2>"$work/err"; rc=$?
set -e
psql -qAtX -d "$conninfo" -c "SELECT pg_terminate_backend(pid) $holder" >/dev/null
[ $rc -eq 1 ] && grep -q "^recmgr: load: estat 85 (fitxer bloquejat per un altre programa: canceling statement due to lock timeout)$" \
  "$work/err" || fail "a write past lock_timeout: $rc $(cat "$work/err")"
# A server that cannot be used: the status and the server's own reason, in
# the batch printer's message and in recmgr's.
while IFS='|' read -r server reason; do
  sed -i "s|^Servidor=.*|Servidor=$server\r|" Nuva.ini
  set +e
  "$bin" 31/12/2026 1 0 999 999 1 --no-print-program 2>"$work/err"; rc=$?
  set -e
  [ $rc -eq 1 ] && grep -q "(2): .*$reason" "$work/err" || fail "Servidor=$server: $rc $(cat "$work/err")"
  ! "$recmgr" --server "$server" stat DADES/TDespesa.dat 2>"$work/err" && grep -q \
    "en obrir DADES/TDespesa.dat: estat 2 (error d'entrada/sortida: .*$reason" "$work/err" || fail "recmgr: $server"
done <<ROWS
$conninfo dbname=no_such_db|database "no_such_db" does not exist
host=127.0.0.1 port=1 dbname=telvoran_test|Connection refused
service=no_such_service|definition of service "no_such_service" not found
ROWS
sed -i "s|^Servidor=.*|Servidor=$conninfo\r|" Nuva.ini

# The root reached through a link, with stale local files left under it
# (collections missing): the server's statements, read over connections.
ln -s "$work/demo" "$work/link"
cp -r "$work/DADES.files" DADES
"$recmgr" create "$work/empty.dat" "$ZELROOT/ddf/CobramH.xdf"
cp "$work/empty.dat" DADES/CobramH.dat
(cd "$work/link/root" && ZELROOT="$work/link/root/" TELVORAN_SERVER_TRAFFIC=1 \
  "$bin" 31/12/2026 1 0 999 999 1 --no-print-program 2>"$work/err") || fail "run through a link"
cmp -s "${ZELTMP}zizavezu.tmp" "$work/files-0.tmp" || fail "a root through a link read local files"
grep -q "connections=[1-9]" "$work/err" || fail "a root through a link: $(cat "$work/err")"
rm -rf DADES

# A larger portfolio, and the server stopped in the middle of its run.
# (the same names on the server: the demo installation now reads it).
cp -r "$src/sample" "$work/big"
"$build/tools/demodata/demodata" scale "$work/big" --communities 200 --owners 8000 \
  --payments 400000 --collections 80000 --seed 3 >/dev/null
"$recmgr" migrate "$work/big" --server "$conninfo" --replace >/dev/null || fail "migrate big"
# Long scans read ahead in large batches, the next asked for while one is
# handed out: the same statements as from the files.
(cd "$work/big" && ZELROOT="$work/big/" "$bin" 31/12/2026 1 0 9999 9999 2 --no-print-program) ||
  fail "the big run on the files"
cp "${ZELTMP}zizavezu.tmp" "$work/big-files.tmp"
"$bin" 31/12/2026 1 0 9999 9999 2 --no-print-program || fail "the big run on the server"
cmp -s "${ZELTMP}zizavezu.tmp" "$work/big-files.tmp" || fail "the big run differs on the server"
# The backends serving the programs frozen (SIGSTOP): no answer ever comes,
# the connections stay up. With statement_timeout 3 s a wait ends after 8 s.
backends() {
  psql -qAtX -d "$conninfo" -c "SELECT pid FROM pg_stat_activity WHERE application_name = 'telvoran'"
}
frozen=""
freeze() { frozen="$(backends)"; [ -n "$frozen" ] || fail "no backend to freeze"; kill -STOP $frozen; }
thaw() { [ -z "$frozen" ] || kill -CONT $frozen; frozen=""; }
trap 'thaw; cleanup' EXIT
sed -i "s|^Servidor=.*|Servidor=$conninfo options=-cstatement_timeout=3s\r|" Nuva.ini
# Waits for the batch printer in the background to be writing its print
# file, then pauses it while what it meets is set up.
paused_midway() {
  for _ in $(seq 300); do
    ls "${ZELTMP}"zizavezu.tmp.new-* >/dev/null 2>&1 && break
    sleep 0.01
  done
  kill -STOP "$1"
}
# ends_by SECONDS PID: it ends in time (its status in $rc) or the test fails.
ends_by() {
  set +e
  timeout "$1" tail --pid="$2" -f /dev/null; local waited=$?
  wait "$2"; rc=$?
  set -e
  [ $waited -eq 0 ] || { kill -9 "$2"; fail "${3:-a run} hung"; }
}
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program >/dev/null 2>"$work/err" &
printer=$!
paused_midway $printer
freeze
kill -CONT $printer
ends_by 40 $printer "the batch printer with a frozen server"
thaw
[ $rc -eq 1 ] && grep -q "estat 2: el servidor no ha respost en 8 s" "$work/err" ||
  fail "frozen server: $rc $(cat "$work/err")"
[ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "frozen server: a print file was left"
sed -i "s|^Servidor=.*|Servidor=$conninfo\r|" Nuva.ini

# The module: Esc is seen while a read waits for a frozen server (long
# before the 45 s a wait may last without statement_timeout), and the
# stopped run's connections are made again by the next run; a server
# stopped and started again serves the next run of the module left open.
if command -v tmux >/dev/null; then
  source "$src/scripts/tmux-test-lib.sh"
  tmux_test_name=telvoran-server-module
  sock="$tmux_test_name-$$-0"
  trap 'thaw; tm kill-server 2>/dev/null || true; cleanup' EXIT
  TMUX_WAIT=300
  tmux_start_module "$build/driver/TELVORAN"
  print_from_form() { confirm_print_run; }
  wait_for "Data de l'informe"
  freeze
  print_from_form
  keys Escape
  wait_for "Voleu aturar la impressi"
  keys -l "S"
  wait_gone "Voleu aturar"
  wait_for "Data de l'informe"
  thaw
  [ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "a stopped run left its print file"
  rm -f "${ZELTMP}statements.pdf"
  print_from_form
  wait_for "statements.pdf"
  keys Enter
  wait_gone "statements.pdf"
  "$src/scripts/pg-test-server" down "$pg"
  print_from_form
  wait_for "no s'ha impr"
  keys Enter
  "$src/scripts/pg-test-server" up "$pg"
  rm -f "${ZELTMP}statements.pdf"
  print_from_form
  wait_for "statements.pdf"
  [ -s "${ZELTMP}statements.pdf" ] || fail "no PDF after the server came back"
  tm kill-server 2>/dev/null || true
fi

rm -f "${ZELTMP}zizavezu.tmp"
"$bin" 31/12/2026 1 0 9999 9999 1 --no-print-program >/dev/null 2>"$work/err" &
printer=$!
# Once the run is under way (its print file in progress exists) it is
# paused while the server stops, so the stop always falls in its middle.
paused_midway $printer
"$src/scripts/pg-test-server" stop "$pg" >/dev/null
kill -CONT $printer
ends_by 60 $printer "the printer after the server stopped"
[ $rc -ne 0 ] || fail "the printer reported success without its server"
[ -s "$work/err" ] || fail "no message when the server stopped"
[ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "a print file was handed on"
ls "${ZELTMP}"zizavezu.tmp.new-* >/dev/null 2>&1 && fail "the print file in progress was left"
echo "server: $(head -1 "$work/err")"
echo "batch printer on the server: all checks passed"
