#!/usr/bin/env bash
# The batch printer's arguments against the parameter form's checks, on the
# demo installation, as one table:
#   arguments_test.sh SOURCE_DIR BUILD_DIR
# Each row: the exit status, where the message is looked for (out or err),
# a piece of it (empty: nothing at all there), the statements the print file must hold (- for none: no
# print file may be left), variables for the run, and the arguments
# (shell words; --no-print-program is added to each).
set -euo pipefail
src="$1"
build="$(realpath "$2")"
work="$(mktemp -d /tmp/telvoran-args-XXXXXX)"
trap 'rm -rf "$work"' EXIT
"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
bin="$build/tools/telvoran_print/telvoran-print"
fail() { echo "FAIL: $*"; exit 1; }

# A terminal whose language is Spanish, and a root without its data files.
mkdir -p "$work/spa" "$work/nodata"
cp "${ZELTMP}Sessio.ini" "$work/spa/"
sed 's/^Idioma=CAT/Idioma=SPA/' "${ZELTMP}NuvaTerm.ini" >"$work/spa/NuvaTerm.ini"
cp -r "$ZELROOT"/FORMS "$ZELROOT"/LOCALE "$ZELROOT"/ddf "$ZELROOT"/Nuva.ini "$work/nodata/"

rows=0
while IFS='|' read -r rc stream piece statements vars args; do
  [ -n "$rc" ] || continue
  rows=$((rows + 1))
  eval "set -- $args"
  eval "vars=($vars)"
  rm -f "$ZELTMP/zizavezu.tmp" "$work/spa/zizavezu.tmp"
  got=0
  env "${vars[@]}" "$bin" "$@" --no-print-program >"$work/out" 2>"$work/err" || got=$?
  what="[$args] ${vars[*]}"
  [ "$got" = "$rc" ] || fail "$what: status $got, not $rc: $(cat "$work/err")"
  if [ -z "$piece" ]; then
    [ ! -s "$work/$stream" ] || fail "$what: std$stream not empty: $(cat "$work/$stream")"
  else
    grep -qF -- "$piece" "$work/$stream" || fail "$what: no \"$piece\" on std$stream: $(cat "$work/$stream")"
  fi
  if [ "$statements" = - ]; then
    [ ! -e "$ZELTMP/zizavezu.tmp" ] && [ ! -e "$work/spa/zizavezu.tmp" ] ||
      fail "$what: a print file was left"
  else
    found="$(grep -c 'RESUM DE DESPESES' "$ZELTMP/zizavezu.tmp" || true)"
    [ "$found" = "$statements" ] || fail "$what: $found statements, not $statements"
  fi
done <<'TABLE'
2|err|CÒPIES: "abc" no és un nombre de 3 xifres com a màxim|-||31/12/2026 1 0 999 999 abc
2|err|CÒPIES: "-1" no és un nombre|-||31/12/2026 1 0 999 999 -1
2|err|CÒPIES: "99999" no és un nombre de 3 xifres|-||31/12/2026 1 0 999 999 99999
2|err|COM1: "x" no és un nombre de 4 xifres|-||31/12/2026 x 0 999 999 1
2|err|COM1: "10000" no és un nombre de 4 xifres|-||31/12/2026 10000 0 999 999 1
0|err||5||31/12/2026 1 0 1000 999 1
2|err|PIS2: "12345" no és un nombre de 4 xifres|-||31/12/2026 1 0 999 12345 1
2|err|DATA: "31/2/2026" no és una data vàlida|-||31/2/2026 1 0 999 999 1
2|err|DATA: "5/3" no és una data vàlida|-||5/3 1 0 999 999 1
0|err||5||"" 1 0 999 999 1
0|err||47||31/12/2026 1 0 999 999 ""
0|err||0||"" "" "" "" "" ""
2|err|el límit inferior (comunitat 5 pis 0) és més alt que el superior (comunitat 4 pis 999)|-||31/12/2026 5 0 4 999 1
2|err|el límit inferior (comunitat 3 pis 7) és més alt que el superior (comunitat 3 pis 0)|-||31/12/2026 003 7 3 "" 1
2|err|el límite inferior (comunidad 5 piso 0) es más alto que el superior (comunidad 3 piso 999)|-|ZELTMP="$work/spa/"|31/12/2026 5 0 3 999 1
2|err|el límit inferior (comunitat 5 pis 0)|-|ZELROOT="$work/nodata/"|31/12/2026 5 0 4 999 1
2|err|calen sis valors i n'hi ha 3|-||31/12/2026 1 0
2|err|ús: telvoran-print DATA COM1 PIS1 COM2 PIS2 CÒPIES|-||31/12/2026 1 0 999 999 1 7
2|err|argument desconegut: --bogus|-||31/12/2026 1 0 999 999 1 --bogus
0|err||5||31/12/2026 1 0 999 999 1
0|err|telvoran-print: Avís: la data de l'informe no és posterior a la liquidació anterior de la comunitat 4; el període|5||30/6/2026 1 0 999 999 1
0|err|de les comunitats 1 (C. MAJOR, 24 (SABADELL)), 4 i 5; el període|2||31/12/2025 1 0 999 999 1
0|err||1||1/7/2026 4 0 4 999 1
1|err|telvoran-print: NO ES POT ACCEDIR AL FITXER|-|ZELROOT="$work/nodata/"|31/12/2026 1 0 999 999 1
2|err|COPIAS: "abc" no es un número de 3 cifras como máximo|-|ZELTMP="$work/spa/"|31/12/2026 1 0 999 999 abc
0|out|Estat de sortida: 0 imprès|-||--help
0|out|uso: telvoran-print FECHA|-|ZELTMP="$work/spa/"|--help
0|out|ús: telvoran-print DATA|-|ZELROOT=/nonexistent/ ZELTMP=/nonexistent/|--help
0|out|telvoran-print |-||--version
TABLE
[ "$rows" -eq 29 ] || fail "only $rows rows ran"

# What standard output loses (/dev/full) fails each program with its failure
# status: the usage, the version, the print program's outcome line.
"$bin" 31/12/2026 1 0 999 999 1 --no-print-program 2>/dev/null || fail "no print file for ZIZAVEZU"
full=0
while read -r want program args; do
  full=$((full + 1))
  got=0
  "$build/$program" $args >/dev/full 2>"$work/err" || got=$?
  [ "$got" = "$want" ] || fail "$program $args >/dev/full: status $got, not $want"
  grep -qF "sortida estàndard" "$work/err" || fail "$program $args >/dev/full: $(cat "$work/err")"
done <<'ROWS'
2 tools/zizavezu/ZIZAVEZU
2 tools/zizavezu/ZIZAVEZU --version
1 tools/telvoran_print/telvoran-print --help
1 tools/telvoran_print/telvoran-print 31/12/2026 1 0 999 999 1
1 driver/TELVORAN --version
1 driver/TELVORAN --help
1 tools/telvoran_setup/telvoran-setup --version
1 tools/telvoran_send/telvoran-send --version
ROWS
echo "batch printer arguments: $rows rows and $full on a full standard output passed"
