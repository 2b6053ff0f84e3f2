#!/usr/bin/env bash
# Fault and concurrency checks of the batch printer and the data tool on a
# demo installation. Every case starts from the same data files and compares
# the md5 sums of DADES/*.dat before and after: the printer only reads them.
# A stub print program records whether a print file was handed on.
#   fault_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
export LC_ALL=C
src="$1"
build="$2"
work="$(mktemp -d /tmp/telvoran-faults-XXXXXX)"
holder=""
cleanup() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
bin="$build/tools/telvoran_print/telvoran-print"
rm_tool="$build/tools/recmgr/recmgr"
fail() {
  echo "FAIL: $*"
  exit 1
}

# The stub print program: notes each hand-over and keeps the file it got.
mkdir -p "$work/stub"
cat >"$work/stub/ZIZAVEZU" <<STUB
#!/bin/sh
echo handed >>"$work/handed"
cp "\${ZELTMP}zizavezu.tmp" "$work/handed.tmp"
STUB
chmod +x "$work/stub/ZIZAVEZU"
export ZELEXE="$work/stub/"

cp -a "$ZELROOT/DADES" "$work/pristine"
cp -a "$ZELROOT/ddf" "$work/pristine-ddf"
# Each case starts with the print file of an earlier run in place, which a
# run that fails must not leave to be printed later.
restore() {
  rm -rf "$ZELROOT/DADES" "$ZELROOT/ddf"
  cp -a "$work/pristine" "$ZELROOT/DADES"
  cp -a "$work/pristine-ddf" "$ZELROOT/ddf"
  rm -f "$work/handed" "$work/handed.tmp"
  printf 'DEVICE\r\nPAGE 66 \r\n 1 ,an earlier run, 1 \r\n' >"${ZELTMP}zizavezu.tmp"
}
sums() { (cd "$ZELROOT/DADES" && md5sum -- *.dat); }
language() { sed -i "s/^Idioma=.*/Idioma=$1\r/" "${ZELTMP}NuvaTerm.ini"; }
# Runs the printer over every community, one copy each; sets rc and err.
run() {
  set +e
  "$bin" 31/12/2026 1 0 999 999 1 "$@" 2>"$work/err" >/dev/null
  rc=$?
  set -e
}
expect_unchanged() { [ "$(sums)" = "$1" ] || fail "$2: a data file changed"; }
expect_nothing_handed() {
  [ ! -e "$work/handed" ] || fail "$1: a print file was handed on"
  [ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "$1: a print file was left"
}

# The reference run.
restore
before="$(sums)"
run
[ $rc -eq 0 ] || fail "reference run gave $rc"
[ -s "$work/handed.tmp" ] || fail "reference run handed nothing on"
cp "$work/handed.tmp" "$work/reference.tmp"
expect_unchanged "$before" "reference run"

# ---------------------------------------------------------------------------
# 1. Missing, corrupt and foreign data files.

# Missing with its definition: created empty, the run goes on.
restore
rm -f DADES/TDespesa.dat*
before="$(sums)"
run
[ $rc -eq 0 ] || fail "missing TDespesa with its definition gave $rc"
[ -s DADES/TDespesa.dat ] || fail "TDespesa was not created"
[ -s "$work/handed.tmp" ] || fail "missing TDespesa: nothing printed"
[ "$(sums | grep -v ' TDespesa.dat$')" = "$before" ] || fail "missing TDespesa: a data file changed"

# Missing with no definition: the message in each language, exit status 1 and
# nothing printed.
declare -A open_failure=(
  [CAT]="NO ES POT ACCEDIR AL FITXER "
  [SPA]="NO SE PUEDE ACCEDER AL FICHERO "
  [GLG]="NOM SE PODE ACEDER AO FICHEIRO "
  [OCI]=$'NON SE P\xc3\x92T ACCEDIR ATH FICH\xc3\x88R '
)
for lang in CAT SPA GLG OCI; do
  restore
  rm -f DADES/TDespesa.dat* ddf/TDespesa.xdf
  language "$lang"
  before="$(sums)"
  run
  [ $rc -eq 1 ] || fail "$lang: missing TDespesa without definition gave $rc"
  grep -qF "${open_failure[$lang]}DADES\\TDespesa (12)" "$work/err" ||
    fail "$lang: open failure message: $(cat "$work/err")"
  expect_nothing_handed "$lang: missing TDespesa"
  [ ! -e DADES/TDespesa.dat ] || fail "$lang: a TDespesa was made from nothing"
  expect_unchanged "$before" "$lang: missing TDespesa"
done
language CAT

# The same failure while another run holds the temporary folder: that run's
# print file is left alone.
restore
rm -f DADES/TDespesa.dat* ddf/TDespesa.xdf
(
  exec 9>>"${ZELTMP}zizavezu.lck"
  flock 9
  exec sleep 30
) &
holder=$!
for _ in $(seq 200); do
  flock -n "${ZELTMP}zizavezu.lck" true || break
  sleep 0.05
done
run
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=""
[ $rc -eq 1 ] || fail "missing TDespesa under another run's lock gave $rc"
[ -e "${ZELTMP}zizavezu.tmp" ] || fail "a failed start-up removed the print file of a run holding the folder"

# Something else in place of a data file: the message with status 30 (not
# a data file), exit status 1, nothing printed, and the file left as it was.
plant() {
  case "$1" in
    random) head -c 65536 /dev/urandom >DADES/PagamH.dat ;;
    text) printf 'Pagaments 2026\r\nno es un fitxer de dades\r\n' >DADES/PagamH.dat ;;
    empty) : >DADES/PagamH.dat ;;
    truncated) head -c $(($(stat -c %s "$work/pristine/PagamH.dat") / 2)) \
      "$work/pristine/PagamH.dat" >DADES/PagamH.dat ;;
  esac
}
for kind in random text empty truncated; do
  restore
  plant "$kind"
  before="$(sums)"
  run
  [ $rc -eq 1 ] || fail "$kind PagamH gave $rc"
  grep -qF "NO ES POT ACCEDIR AL FITXER DADES\\PagamH (30)" "$work/err" ||
    fail "$kind PagamH: message: $(cat "$work/err")"
  expect_nothing_handed "$kind PagamH"
  expect_unchanged "$before" "$kind PagamH"
done

# A data file of another kind with longer records (the community file as the
# expense types): read without writing past the record buffers.
restore
cp "$work/pristine/FinquesH.dat" DADES/TDespesa.dat
before="$(sums)"
run
[ $rc -eq 0 ] || fail "foreign TDespesa gave $rc: $(cat "$work/err")"
expect_unchanged "$before" "foreign TDespesa"

# A definition cut in half with the data file missing: the message with
# status 25 (invalid definition) and no half-made data file.
restore
rm -f DADES/PagamH.dat*
head -c $(($(stat -c %s "$work/pristine-ddf/PagamH.xdf") / 2)) "$work/pristine-ddf/PagamH.xdf" \
  >ddf/PagamH.xdf
before="$(sums)"
run
[ $rc -eq 1 ] || fail "truncated PagamH.xdf gave $rc"
grep -qF "NO ES POT ACCEDIR AL FITXER DADES\\PagamH (25)" "$work/err" ||
  fail "truncated PagamH.xdf: message: $(cat "$work/err")"
expect_nothing_handed "truncated PagamH.xdf"
ls DADES/PagamH.dat* >/dev/null 2>&1 && fail "truncated PagamH.xdf left a data file"
expect_unchanged "$before" "truncated PagamH.xdf"

# ---------------------------------------------------------------------------
# 2. A print folder that cannot be written, and one that fills up. Running as
# root, permissions do not stop writes: a directory in the place of the print
# file stands for the first, a file-size limit (ulimit -f) for the second.

restore
rm "${ZELTMP}zizavezu.tmp"
before="$(sums)"
if [ "$(id -u)" -ne 0 ]; then
  chmod a-w "$ZELTMP"
  run
  chmod u+w "$ZELTMP"
else
  mkdir "${ZELTMP}zizavezu.tmp"
  run
  rmdir "${ZELTMP}zizavezu.tmp"
fi
[ $rc -eq 1 ] || fail "unwritable print folder gave $rc"
grep -q "No es pot crear el fitxer d.impressi" "$work/err" || fail "unwritable print folder: message"
expect_nothing_handed "unwritable print folder"
expect_unchanged "$before" "unwritable print folder"

# The limit lies above what the data layer needs for its side files (32 KB)
# and below the ten-copy print file; the default action of SIGXFSZ is left
# in place, as a scheduler would leave it.
restore
before="$(sums)"
set +e
(
  ulimit -f 48
  exec "$bin" 31/12/2026 1 0 999 999 10
) 2>"$work/err" >/dev/null
rc=$?
set -e
[ $rc -eq 1 ] || fail "print folder full gave $rc"
grep -q "No es pot escriure el fitxer d.impressi" "$work/err" || fail "print folder full: message"
expect_nothing_handed "print folder full"
expect_unchanged "$before" "print folder full"

# ---------------------------------------------------------------------------
# 4. Locks held by another process.

# A record lock on a community: the report takes no locks, so it reads
# through and prints what the reference run printed.
restore
before="$(sums)"
"$rm_tool" lock DADES/FinquesH.dat --record 1 --seconds 30 >"$work/lock.out" &
holder=$!
for _ in $(seq 200); do
  grep -q locked "$work/lock.out" && break
  sleep 0.05
done
grep -q locked "$work/lock.out" || fail "the record lock was not taken"
run
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=""
[ $rc -eq 0 ] || fail "record lock gave $rc"
cmp -s "$work/handed.tmp" "$work/reference.tmp" || fail "record lock: output differs"
expect_unchanged "$before" "record lock"

# A file lock held while the printer starts: the open retries until the
# holder lets go, then the run completes. The holder must have ended before
# the printer did.
restore
before="$(sums)"
"$rm_tool" lock DADES/PagamH.dat --file --seconds 1 >"$work/lock.out" &
holder=$!
for _ in $(seq 200); do
  grep -q locked "$work/lock.out" && break
  sleep 0.05
done
grep -q locked "$work/lock.out" || fail "the file lock was not taken"
run
kill -0 "$holder" 2>/dev/null && fail "the printer did not wait for the file lock"
wait "$holder" || fail "the lock holder failed"
holder=""
[ $rc -eq 0 ] || fail "file lock at start gave $rc"
cmp -s "$work/handed.tmp" "$work/reference.tmp" || fail "file lock at start: output differs"
expect_unchanged "$before" "file lock at start"

# ---------------------------------------------------------------------------
# 3. Payments and collections inserted by another process during a long
# run. Each community gets payments and collections of 2^i cents in a known
# order, so a total that saw the first j of them and no others is the
# baseline plus 2^j - 1. Every copy of a community must show the same
# totals, and those must be the baseline plus such a prefix.

big="$work/big"
mkdir -p "$big/tmp"
cp -r "$src/sample" "$big/root"
cp "${ZELTMP}Sessio.ini" "${ZELTMP}NuvaTerm.ini" "$big/tmp/"
owners=360
grep -q fsanitize "$build/CMakeCache.txt" 2>/dev/null && owners=120
"$build/tools/demodata/demodata" scale "$big/root/" --communities 6 --owners "$owners" \
  --payments 30000 --collections 12000 >/dev/null
export ZELROOT="$big/root/" ZELTMP="$big/tmp/"
cd "$ZELROOT"
per_community=$((owners / 6))
inserts=20

# community, copy number, total of expenses, total collected (cents)
totals() {
  awk '
    /CORRESPONENT A LA COMUNITAT DE PROPIETARIS \(/ {
      c = $0; sub(/.*PROPIETARIS \(/, "", c); sub(/\).*/, "", c)
      if (c != last) { copy = 0; last = c }
      copy++
    }
    /,TOTAL DESPESES ,/ { want = "d" }
    /,TOTAL COBRAMENTS ,/ { want = "c" }
    /^ 85 ,/ && want != "" {
      v = $0; sub(/^ 85 ,/, "", v); sub(/,[^,]*$/, "", v); gsub(/[^0-9-]/, "", v)
      if (want == "d") d = v + 0; else { print last, copy, d, v + 0 }
      want = ""
    }' "$1"
}

"$bin" 31/12/2026 1 0 999 999 1 --no-print-program 2>"$work/err" || fail "big baseline run"
totals "${ZELTMP}zizavezu.tmp" >"$work/baseline"
[ "$(wc -l <"$work/baseline")" -eq 6 ] || fail "baseline totals: $(cat "$work/baseline")"

# A file lock taken by another process while the run reads (the print file
# has been started, so the files are open): the run reads the files as they
# were and prints the baseline figures, not statements cut short.
rm -f "${ZELTMP}zizavezu.tmp"
"$bin" 31/12/2026 1 0 999 999 0 --no-print-program 2>"$work/err" &
printer=$!
for _ in $(seq 400); do
  [ -s "${ZELTMP}zizavezu.tmp" ] && break
  sleep 0.01
done
"$rm_tool" lock DADES/PagamH.dat --file --seconds 1 >/dev/null || fail "mid-run file lock"
set +e
wait "$printer"
rc=$?
set -e
[ $rc -eq 0 ] || fail "run with a file lock taken halfway gave $rc: $(cat "$work/err")"
totals "${ZELTMP}zizavezu.tmp" | awk 'NR == FNR { base[$1] = $3 " " $4; next }
  $3 " " $4 != base[$1] { print; bad = 1 } END { exit bad }' "$work/baseline" - \
  >"$work/cut" || true
[ -s "$work/cut" ] && fail "file lock taken halfway: statements differ: $(head -3 "$work/cut")"

# The records to insert, made beforehand so that the inserter runs fast.
mkdir -p "$work/seq"
perl -e '
  my ($dir, $inserts, $flats) = @ARGV;
  my @types = ("AI", "AS", "LL", "MA", "NE", "SE");
  sub code { my $n = shift; pack("C2", 0x80 + int($n / 100), 0x80 + $n % 100) }
  my $date = pack("C4", 0x94, 0x9a, 0x86, 0x8f);  # 2026-06-15
  sub seq { my ($f, $r) = @_; open(my $o, ">", $f) or die; binmode $o;
            print $o length($r), ",", $r, "\r\n\x1a"; close $o }
  for my $i (0 .. $inserts - 1) {
    for my $c (1 .. 6) {
      # Payments in ascending key order (group, then expense type), so that
      # a reader that skipped ahead would see a later one without an earlier.
      my $group = 1 + int($i * 3 / $inserts);
      my $pay = code($c) . $date . "  " . $types[$i % 6] . sprintf("%-25s", "Pagament $i")
              . pack("l<", 1 << $i) . "N" . code($group) . "  ";
      seq("$dir/p$i-$c", $pay);
      my $col = code($c) . code(1 + $i % $flats) . $date . " " x 5 . pack("l<", 1 << $i)
              . pack("l<", 0) . "C  ";
      seq("$dir/c$i-$c", $col);
    }
  }' "$work/seq" "$inserts" "$per_community"

# The long run: one statement per owner.
"$bin" 31/12/2026 1 0 999 999 0 --no-print-program 2>"$work/err" &
printer=$!
during=0
for i in $(seq 0 $((inserts - 1))); do
  for c in 1 2 3 4 5 6; do
    "$rm_tool" load DADES/PagamH.dat "$work/seq/p$i-$c" || fail "insert payment $i-$c"
    "$rm_tool" load DADES/CobramH.dat "$work/seq/c$i-$c" || fail "insert collection $i-$c"
    kill -0 "$printer" 2>/dev/null && during=$((during + 2))
  done
done
set +e
wait "$printer"
rc=$?
set -e
[ $rc -eq 0 ] || fail "concurrent run gave $rc: $(cat "$work/err")"
totals "${ZELTMP}zizavezu.tmp" >"$work/concurrent"
[ "$(wc -l <"$work/concurrent")" -eq "$owners" ] || fail "concurrent run: statement count"
awk -v inserts="$inserts" '
  function prefix(diff,   j) {
    for (j = 0; j <= inserts; j++) if (diff == 2 ^ j - 1) return 1
    return 0
  }
  NR == FNR { base_d[$1] = $3; base_c[$1] = $4; next }
  {
    if (!($1 in first_d)) { first_d[$1] = $3; first_c[$1] = $4 }
    if ($3 != first_d[$1] || $4 != first_c[$1]) {
      printf "community %s copy %s: %s %s, copy 1: %s %s\n", $1, $2, $3, $4, first_d[$1], first_c[$1]
      bad = 1
    }
    if (!prefix($3 - base_d[$1]) || !prefix($4 - base_c[$1])) {
      printf "community %s copy %s: %s %s is no prefix over %s %s\n", $1, $2, $3, $4, base_d[$1], base_c[$1]
      bad = 1
    }
  }
  END { exit bad }' "$work/baseline" "$work/concurrent" >"$work/inconsistent" || true
[ -s "$work/inconsistent" ] && fail "figures of two moments: $(head -5 "$work/inconsistent")"
# How much the run and the inserts overlapped, for the log: timing decides.
echo "concurrent run: $during of $((inserts * 12)) inserts were made while it ran"

echo "faults: all checks passed"
