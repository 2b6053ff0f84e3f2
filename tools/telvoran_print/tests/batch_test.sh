#!/usr/bin/env bash
# End-to-end checks of the batch printer on the demo installation:
#   batch_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1"
build="$2"
work="$(mktemp -d /tmp/telvoran-batch-XXXXXX)"
trap 'rm -rf "$work"' EXIT
"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
bin="$build/tools/telvoran_print/telvoran-print"
fail() { echo "FAIL: $*"; exit 1; }
sums() { md5sum "$ZELROOT"/DADES/*.dat; }
before="$(sums)"

# A full run with the print program, as the demo does.
"$bin" 31/12/2026 1 0 999 999 1 >/dev/null || fail "full run"
[ -s "${ZELTMP}statements.pdf" ] || fail "no PDF"
grep -q "^DEVICEPDF:statements.pdf" "${ZELTMP}zizavezu.tmp" || fail "device line"
[ "$(grep -c '^PAGE 66 ' "${ZELTMP}zizavezu.tmp")" -ge 5 ] || fail "pages"

# One PDF per statement from the register the run writes: as many PDFs as
# register entries, their pages the print file's, the folder's register last.
"$bin" 31/12/2026 1 0 999 999 1 --device DIR:resum >"$work/dir.out" || fail "DIR: run"
entries="$(grep -c '^S' "${ZELTMP}zizavezu.reg")"
[ "$(ls "${ZELTMP}resum/"*.pdf | wc -l)" = "$entries" ] || fail "DIR: PDFs"
[ -s "${ZELTMP}resum/resum.reg" ] && [ -s "${ZELTMP}resum/resum.csv" ] || fail "DIR: summary"
grep -q "^ZIZAVEZU: $entries PDF amb $(grep -c '^PAGE ' "${ZELTMP}zizavezu.tmp") p" "$work/dir.out" ||
  fail "DIR: outcome $(cat "$work/dir.out")"

# A lower bound above the upper one is refused with status 2.
set +e
"$bin" 31/12/2026 5 0 4 999 1 --no-print-program 2>/dev/null; rc=$?
[ $rc -eq 2 ] || fail "reversed range gave $rc"
"$bin" 32/12/2026 1 0 999 999 1 --no-print-program 2>/dev/null; rc=$?
[ $rc -eq 2 ] || fail "bad date gave $rc"
"$bin" 1 2 3 2>/dev/null; rc=$?
[ $rc -eq 2 ] || fail "missing arguments gave $rc"

# A program folder that does not exist: a message and status 1.
ZELEXE="$work/none/" "$bin" 31/12/2026 1 0 999 999 1 2>"$work/err"; rc=$?
[ $rc -eq 1 ] || fail "missing print program gave $rc"
grep -q "No existeix la carpeta de programes $work/none/" "$work/err" ||
  fail "message for a missing program folder: $(cat "$work/err")"

# A print file that cannot be created: status 1 and no print file.
mkdir -p "$work/t2"
cp "${ZELTMP}Sessio.ini" "${ZELTMP}NuvaTerm.ini" "$work/t2/"
rm -f "${ZELTMP}zizavezu.tmp"
ZELTMP="$work/missing/" "$bin" 31/12/2026 1 0 999 999 1 2>"$work/err"; rc=$?
[ $rc -eq 1 ] || fail "unwritable print folder gave $rc"
grep -q "No es pot crear el fitxer d.impressi" "$work/err" || fail "message for the print file"

# A full disk (a file-size limit here): nothing half-written is left under
# the print file's name nor handed on.
(ulimit -f 8; "$bin" 31/12/2026 1 0 999 999 1 2>"$work/err"); rc=$?
[ $rc -eq 1 ] || fail "full disk gave $rc"
grep -q "No es pot escriure el fitxer d.impressi" "$work/err" || fail "message for a full disk"
[ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "full disk left a print file"
ls "${ZELTMP}"zizavezu.tmp.new-* >/dev/null 2>&1 && fail "full disk left its new file"
set -e

# Copies 0: one statement per owner (47 owners in the demo).
"$bin" 31/12/2026 1 0 999 999 0 --no-print-program
[ "$(grep -c 'RESUM DE DESPESES' "${ZELTMP}zizavezu.tmp")" -eq 47 ] || fail "copies 0"

# Settings written in UTF-8 by a modern editor print as the same letters
# (code page 850 in the print file), whatever else the file holds.
cp Nuva.ini "$work/Nuva.ini"
iconv -f CP850 -t UTF-8 "$work/Nuva.ini" | sed 's/^Nom=.*/Nom=PUIGDOMÈNECH I ARAGÓ\r/' >Nuva.ini
"$bin" 31/12/2026 1 0 999 999 1 --no-print-program || fail "run with a UTF-8 Nuva.ini"
grep -q "$(printf 'PUIGDOM\xd4NECH I ARAG\xe0')" "${ZELTMP}zizavezu.tmp" || fail "UTF-8 letterhead"
cp "$work/Nuva.ini" Nuva.ini

[ "$(sums)" = "$before" ] || fail "a data file changed"
echo "batch printer: all checks passed"
