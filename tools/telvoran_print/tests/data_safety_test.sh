#!/usr/bin/env bash
# The promise that the programs read the data files and never write them,
# tried as an adversary would on a demo installation:
#   data_safety_test.sh SOURCE_DIR BUILD_DIR
# - a symbolic and a hard link to a data file planted at every file the
#   programs write (print file, PDF and TXT output, recmgr's output, and
#   through TELVORAN in tmux Browse.tmp, WinPush.tmp and ZELCALC.TMP), and
#   Browse.tmp a FIFO or a folder;
# - output devices naming a data file, a definition, a settings file, the
#   print file itself, a help text, the installation's env, the print
#   program, an executable, through a root reached by a link;
# - files restricted to their owner replaced by the next run (a data file
#   by recmgr create --replace too);
# - two batch printers at once in one temporary folder;
# - the batch printer (SIGKILL, SIGTERM, SIGHUP) and the print program
#   (SIGKILL) killed halfway, and the batch printer killed (SIGTERM, SIGKILL)
#   while its print program works;
# - the batch printer as an unprivileged user on a data folder it cannot
#   write, with and without the side files of earlier runs;
# - relative and unfinished folder variables, a cut form file, recmgr's
#   refusals (outputs of save, links, data after the end mark, a full
#   temporary folder, little memory).
# After every case the data, definition and settings files are as they were
# (md5 sums), every link target too, and the exit status and message are
# the expected ones.
set -euo pipefail
[ -n "${SAFETY_TRACE:-}" ] && set -x
export LC_ALL=C
src="$1"
build="$2"

source "$src/scripts/tmux-test-lib.sh"
tmux_test_init telvoran-safety
chmod 755 "$work"  # the unprivileged user's runs go through it
background=""
fail_details() { [ -f "$work/err" ] && { echo "--- stderr ---"; cat "$work/err"; }; }
stop_background() {
  if [ -n "$background" ]; then
    kill "$background" 2>/dev/null || true
    wait "$background" 2>/dev/null || true
  fi
  background=""
}
trap 'stop_background; { umount "$work/tiny" 2>/dev/null || true; }; tmux_test_cleanup' EXIT

"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
cd "$ZELROOT"
print="$build/tools/telvoran_print/telvoran-print"
module="$build/driver/TELVORAN"
rmtool="$build/tools/recmgr/recmgr"
ziz="$build/tools/zizavezu/ZIZAVEZU"
term="$work/demo/term/"
target="$ZELROOT/DADES/PagamH.dat"  # what every planted link points to

cp /bin/true "$work/tool"  # an executable no output may replace
sums() {
  md5sum "$ZELROOT"/DADES/*.dat "$ZELROOT"/ddf/*.xdf "$ZELROOT"/Nuva.ini \
    "$ZELROOT"/FORMS/TELVORAN.ZPN "${ZELTMP}Sessio.ini" "$ZELROOT"/AJUDA/*.HLP "$work/demo/env" \
    "${ZELEXE}ZIZAVEZU" "$work/tool"
}
before="$(sums)"
unchanged() { [ "$(sums)" = "$before" ] || fail "$1: a data, definition or settings file changed"; }
# plant sym|hard PATH: a link to the data file at PATH.
plant() {
  rm -f "$2"
  if [ "$1" = sym ]; then ln -s "$target" "$2"; else ln "$target" "$2"; fi
}
# The name of a planted link holds a file of its own now, or nothing.
replaced() {
  [ ! -L "$1" ] || fail "$2: the link at $1 is still there"
  [ ! -e "$1" ] || [ "$(stat -c %h "$1")" = 1 ] || fail "$2: $1 still shares the data file"
  [ "$(stat -c %h "$target")" = 1 ] || rm -f "$1"
}
device() { sed -i "s|^Sortida=.*|Sortida=${1//\\/\\\\}\r|" "${ZELTMP}NuvaTerm.ini"; }
# run EXPECTED COMMAND...: runs it with stderr in $work/err and checks the
# exit status.
run() {
  local want="$1"
  shift
  set +e
  "$@" >"$work/out" 2>"$work/err"
  rc=$?
  set -e
  [ "$rc" = "$want" ] || fail "$* gave $rc, not $want"
}
said() { grep -qF -- "$1" "$work/err" "$work/out" || fail "no message '$1' ($2)"; }
all=(31/12/2026 1 0 999 999 1)

# --- Links at the files the batch printer and the print program write -----
run 0 "$print" "${all[@]}"
cp "${ZELTMP}zizavezu.tmp" "$work/reference.tmp"
for kind in sym hard; do
  device PDF:statements.pdf
  plant "$kind" "${ZELTMP}zizavezu.tmp"
  run 0 "$print" "${all[@]}"
  replaced "${ZELTMP}zizavezu.tmp" "print file ($kind)"
  cmp -s "${ZELTMP}zizavezu.tmp" "$work/reference.tmp" || fail "print file ($kind): content"
  unchanged "print file ($kind)"
  # The print program replaces a symbolic link at its output and refuses a
  # second name of a data file.
  for dev in PDF:statements.pdf TXT:out.txt; do
    device "$dev"
    plant "$kind" "${ZELTMP}${dev#*:}"
    if [ "$kind" = sym ]; then
      run 0 "$print" "${all[@]}"
      said "5 pàgines escrites" "$dev"
      replaced "${ZELTMP}${dev#*:}" "$dev ($kind)"
    else
      run 1 "$print" "${all[@]}"
      said "no s'hi escriu res" "$dev"
      rm "${ZELTMP}${dev#*:}"
    fi
    unchanged "$dev ($kind)"
  done
done
device PDF:statements.pdf

# --- Output devices that name what the print program must never write -----
run 0 "$print" "${all[@]}"
cp "${ZELTMP}NuvaTerm.ini" "$work/NuvaTerm.ini"
# A root reached through a link is the root all the same.
ln -s root "$work/demo/rootlink"
for dev in PDF:../root/DADES/PropietH.dat 'TXT:..\root\DADES\TDespesa.dat' \
    "PDF:$ZELROOT/ddf/PagamH.xdf" PDF:NuvaTerm.ini TXT:zizavezu.tmp PDF:Sessio.ini \
    "TXT:${ZELROOT}Nuva.ini" PDF:../root/DADES 'TXT:..\root\AJUDA\TELVORAN.HLP' \
    PDF:../root/statements.pdf TXT:../env PDF:../bin/ZIZAVEZU "PDF:$work/tool" \
    "rootlink:TXT:../root/AJUDA/QARNESTO.HLP"; do
  root="$ZELROOT"
  if [ "${dev%%:*}" = rootlink ]; then root="$work/demo/rootlink/" dev="${dev#rootlink:}"; fi
  device "$dev"
  cp "${ZELTMP}NuvaTerm.ini" "$work/NuvaTerm.now"
  run 1 env ZELROOT="$root" "$print" "${all[@]}"
  said "no s'hi escriu res" "$dev"
  unchanged "device $dev"
  cmp -s "${ZELTMP}NuvaTerm.ini" "$work/NuvaTerm.now" || fail "device $dev: NuvaTerm.ini changed"
  # A failed run leaves no print file, neither its own nor an earlier one.
  [ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "device $dev: a print file was left"
done
[ -L "${ZELEXE}ZIZAVEZU" ] || fail "the print program's link was replaced"
cp "$work/NuvaTerm.ini" "${ZELTMP}NuvaTerm.ini"

# --- Replaced files keep the mode and group somebody restricted them to ----
for dev in PDF:statements.pdf TXT:out.txt; do
  device "$dev"
  out="${ZELTMP}${dev#*:}"
  rm -f "$out"
  run 0 "$print" "${all[@]}"
  [ "$(stat -c %a "$out")" = "$(printf '%o' $((0666 & ~0$(umask))))" ] ||
    fail "$dev: a new file does not have the umask's mode"
  chmod 640 "$out" "${ZELTMP}zizavezu.tmp"
  chgrp daemon "$out" "${ZELTMP}zizavezu.tmp"
  run 0 "$print" "${all[@]}"
  for f in "$out" "${ZELTMP}zizavezu.tmp"; do
    [ "$(stat -c %a:%G "$f")" = 640:daemon ] || fail "$dev: $f came back $(stat -c %a:%G "$f")"
  done
done
device PDF:statements.pdf
# And a data file recmgr create --replace makes anew.
run 0 "$rmtool" create "$work/M.dat" "$ZELROOT/ddf/FinquesH.xdf"
chmod 640 "$work/M.dat"
chgrp daemon "$work/M.dat"
run 0 "$rmtool" create "$work/M.dat" "$ZELROOT/ddf/FinquesH.xdf" --replace
[ "$(stat -c %a:%G "$work/M.dat")" = 640:daemon ] ||
  fail "create --replace: the data file came back $(stat -c %a:%G "$work/M.dat")"
rm -f "$work/M.dat"*

# --- recmgr's output -------------------------------------------------------
for kind in sym hard; do
  for at in out.seq out.seq.part; do
    plant "$kind" "$work/$at"
    if [ "$kind $at" = "hard out.seq" ]; then
      # A second name of a data file is a data file: refused, as the print
      # program refuses one.
      run 1 "$rmtool" save "$ZELROOT/DADES/FinquesH.dat" "$work/out.seq"
      said "és un fitxer de dades" "recmgr save at a second name of a data file"
    else
      run 0 "$rmtool" save "$ZELROOT/DADES/FinquesH.dat" "$work/out.seq"
      replaced "$work/out.seq" "recmgr save at $at ($kind)"
    fi
    unchanged "recmgr save at $at ($kind)"
    rm -f "$work/out.seq" "$work/out.seq.part"
  done
done
run 1 "$rmtool" save "$target" "$target"
unchanged "recmgr save onto its own file"
"$rmtool" lock "$target" --file --seconds 30 >"$work/lock.out" 2>&1 &
background=$!
poll 100 grep -q locked "$work/lock.out" || fail "recmgr lock did not take the file lock"
run 1 "$rmtool" create "$target" "$ZELROOT/ddf/PagamH.xdf" --replace
said "85" "create --replace under a file lock"
stop_background
unchanged "recmgr create --replace under a file lock"
for args in "load $target $ZELROOT/DADES" "create $work/new.dat $ZELROOT/ddf"; do
  run 1 "$rmtool" $args
  unchanged "recmgr $args"
done
printf '3,abc\r\n' >"$work/cut.seq"
cp "$ZELROOT/DADES/TDespesa.dat" "$work/TDespesa.dat"
run 1 "$rmtool" load "$work/TDespesa.dat" "$work/cut.seq"
cmp -s "$work/TDespesa.dat" "$ZELROOT/DADES/TDespesa.dat" || fail "a cut load changed the file"

# Outputs recmgr save refuses, writing nothing there: another data file,
# the side files beside one (there or not), definitions and settings files
# by name in any case, a data file standard output is appended to.
finques="$ZELROOT/DADES/FinquesH.dat"
cp "${ZELTMP}NuvaTerm.ini" "$work/NuvaTerm.ini"
for row in "$ZELROOT/DADES/PropietH.dat|és un fitxer de dades" \
    "$ZELROOT/DADES/PropietH.dat-lck|és un fitxer auxiliar del fitxer de dades" \
    "$ZELROOT/DADES/PropietH.dat-wal|és un fitxer auxiliar" \
    "$ZELROOT/DADES/PropietH.dat-shm|és un fitxer auxiliar" \
    "$ZELROOT/DADES/PropietH.dat-journal|és un fitxer auxiliar" \
    "$ZELROOT/ddf/PagamH.xdf|és un fitxer de definició" "$work/Nou.XDF|és un fitxer de definició" \
    "${ZELROOT}Nuva.ini|és un fitxer de configuració" \
    "${ZELTMP}NuvaTerm.ini|és un fitxer de configuració" "$work/sessio.INI|de configuració"; do
  out="${row%%|*}"
  was="$(md5sum "$out" 2>/dev/null || echo none)"
  run 1 "$rmtool" save "$finques" "$out"
  said "${row#*|}" "recmgr save to $out"
  [ "$(md5sum "$out" 2>/dev/null || echo none)" = "$was" ] || fail "recmgr save to $out: written"
  ! compgen -G "$out.new-*" >/dev/null || fail "recmgr save to $out: a new file was left"
  unchanged "recmgr save to $out"
done
run 1 sh -c "'$rmtool' save '$finques' - >>'$ZELROOT/DADES/PropietH.dat'"
said "és un fitxer de dades" "recmgr save to standard output appended to a data file"
unchanged "recmgr save to standard output appended to a data file"
cmp -s "${ZELTMP}NuvaTerm.ini" "$work/NuvaTerm.ini" || fail "recmgr save: NuvaTerm.ini changed"

# A folder reached through a link is the administrator's choice: data
# files are made and used there. A link at the file's own name, or at its
# lock side file, is still refused.
mkdir "$work/real"
ln -s "$work/real" "$work/linked"
run 0 "$rmtool" create "$work/linked/x.dat" "$ZELROOT/ddf/PagamH.xdf"
run 0 "$rmtool" stat "$work/linked/x.dat"
ln -s "$target" "$work/linked/y.dat"
run 1 "$rmtool" create "$work/linked/y.dat" "$ZELROOT/ddf/PagamH.xdf"
said "estat 59" "create at a link"
rm "$work/linked/x.dat-lck"
ln -s "$target" "$work/linked/x.dat-lck"
run 1 "$rmtool" create "$work/linked/x.dat" "$ZELROOT/ddf/PagamH.xdf" --replace
said "estat 2" "create --replace with a link at its lock file"
run 1 "$rmtool" stat "$work/linked/x.dat"
said "estat 2" "stat with a link at its lock file"
unchanged "links in a data file's path"

# Data after the Ctrl-Z (two exports joined, anything but a line end) is
# refused, naming where, and nothing is loaded.
run 0 "$rmtool" save "$finques" "$work/one.seq"
mark="$(stat -c %s "$work/one.seq")"
records="$("$rmtool" stat "$finques" | sed -n 's/^records //p')"
cat "$work/one.seq" "$work/one.seq" >"$work/two.seq"
for row in "0|" '0|\n' '0|\r\n' '1|\r' '1|x' '1|\r\n\r\n' '1|\x1a' '1|two' '0|split'; do
  want="${row%%|*}"
  if [ "${row#*|}" = two ]; then
    in="$work/two.seq"
  elif [ "${row#*|}" = split ]; then
    # The CR LF after the mark in two reads (a pipe, the LF a moment later).
    in="$work/split.fifo"
    rm -f "$in" && mkfifo "$in"
    { cat "$work/one.seq"; printf '\r'; sleep 0.2; printf '\n'; } >"$in" &
  else
    in="$work/tail.seq"
    { cat "$work/one.seq"; printf '%b' "${row#*|}"; } >"$in"
  fi
  run 0 "$rmtool" create "$work/F.dat" "$ZELROOT/ddf/FinquesH.xdf" --replace
  run "$want" "$rmtool" load "$work/F.dat" "$in"
  loaded="$("$rmtool" stat "$work/F.dat" | sed -n 's/^records //p')"
  if [ "$want" = 1 ]; then
    said "(Ctrl-Z a l'octet $mark, després de $records registres); no s'ha carregat res" "tail $row"
    [ "$loaded" = 0 ] || fail "tail $row: $loaded records loaded"
  else
    [ "$loaded" = "$records" ] || fail "tail $row: $loaded records, not $records"
  fi
done

# The sort's temporary folder full: named, with the system's reason. Then
# little memory (ulimit -v; not under the sanitizers, whose reservations
# exceed any limit here): one line and status 1, never an abort.
awk 'BEGIN { for (i = 0; i < 50000; i++) printf "44,%044d\r\n", i; printf "\032" }' \
  >"$work/many.seq"
mkdir "$work/tiny"
if mount -t tmpfs -o size=64k tmpfs "$work/tiny" 2>/dev/null; then
  run 0 "$rmtool" create "$work/P.dat" "$ZELROOT/ddf/PagamH.xdf" --replace
  set +e
  TMPDIR="$work/tiny" "$rmtool" load "$work/P.dat" "$work/many.seq" 2>"$work/err"
  rc=$?
  set -e
  umount "$work/tiny"
  [ "$rc" = 1 ] || fail "a load with a full TMPDIR gave $rc"
  said "load: no es poden escriure els fitxers temporals de l'ordenació a $work/tiny: No space left on device; no s'ha carregat res" "a full TMPDIR"
  "$rmtool" stat "$work/P.dat" | grep -q "^records 0" || fail "a load with a full TMPDIR loaded"
else
  echo "no tmpfs could be mounted: the full TMPDIR case is skipped"
fi
if ! ldd "$rmtool" | grep -q libasan; then
  for kib in $(seq 30000 2000 90000); do
    run 0 "$rmtool" create "$work/P.dat" "$ZELROOT/ddf/PagamH.xdf" --replace
    set +e
    (ulimit -v "$kib" && exec "$rmtool" load "$work/P.dat" "$work/many.seq") 2>"$work/err"
    rc=$?
    set -e
    loaded="$("$rmtool" stat "$work/P.dat" | sed -n 's/^records //p')"
    case "$rc $(wc -l <"$work/err") $loaded" in
      "0 0 50000" | "1 1 0") ;;
      *) fail "load under ulimit -v $kib: status $rc, $loaded records, $(cat "$work/err")" ;;
    esac
  done
fi

# A data file under a root whose Nuva.ini names a server is refused unless
# --local (the root resolved; the first Nuva.ini up decides: VELL's names
# none). A load says how many records it loaded, a wrong length both.
office="$work/office"
cp -r "$work/demo/root" "$office" && ln -s "$office" "$work/officelink"
printf '\r\n[Dades]\r\nServidor=host=srv dbname=finques\r\n' >>"$office/Nuva.ini"
mkdir "$office/VELL" && : >"$office/VELL/Nuva.ini" && cp "$office/DADES/TDespesa.dat" "$office/VELL/"
"$rmtool" --local create "$office/DADES/Nou.dat" "$ZELROOT/ddf/TDespesa.xdf"
run 0 "$rmtool" save "$ZELROOT/DADES/TDespesa.dat" "$work/types.seq"
{ head -c 33 "$work/types.seq"; printf '5,abcde\r\n\032'; } >"$work/short.seq"
office_before="$(md5sum "$office"/*/*.dat)"
refused="és dins de l'arrel $office, que té les dades al servidor (Nuva.ini, [Dades] Servidor=host=srv dbname=finques): useu --server amb el nom DADES/TDespesa.dat, o --local per al fitxer local; no s'ha fet res"
while IFS='|' read -r dir want says args; do
  cd "$dir"
  run "$want" "$rmtool" $args
  said "$says" "recmgr $args in $dir"
  [ "$want" = 0 ] || [ "$(md5sum "$office"/*/*.dat)" = "$office_before" ] || fail "recmgr $args wrote"
done <<ROWS
$work|1|load: $office/DADES/TDespesa.dat $refused|load $office/DADES/TDespesa.dat $work/types.seq
$office/DADES|1|stat: TDespesa.dat $refused|stat TDespesa.dat
$work|1|save: $work/officelink/DADES/TDespesa.dat $refused|save $work/officelink/DADES/TDespesa.dat $work/out.seq
$work|1|amb el nom DADES/Nou2.dat, o --local|create $office/DADES/Nou2.dat $ZELROOT/ddf/TDespesa.xdf
$work|2|--server i --local no es poden donar junts|--server x stat DADES/TDespesa.dat --local
$office/VELL|1|registre 2: estat 22 (la longitud del registre no coincideix: 5 octets en lloc de 28)|load TDespesa.dat $work/short.seq
$work|0|records 0|--local stat $office/DADES/Nou.dat
$office|0|DADES/Nou.dat: 10 registres carregats|load DADES/Nou.dat $work/types.seq --local
ROWS
# With a standby for the readers, a command that only reads is sent there.
printf 'ServidorLectura=host=reserva dbname=finques\r\n' >>"$office/Nuva.ini"
run 1 "$rmtool" dump "$office/DADES/TDespesa.dat"
said "[Dades] ServidorLectura=host=reserva dbname=finques)" "dump under a root with a standby"
run 1 "$rmtool" load "$office/DADES/TDespesa.dat" "$work/types.seq"
said "[Dades] Servidor=host=srv dbname=finques)" "load under a root with a standby"
cd "$ZELROOT"

# --- Two batch printers in one temporary folder; runs killed halfway ------
# A portfolio whose run takes long enough to meet it halfway (about a
# second here, more under the sanitizers).
big="$work/big"
mkdir -p "$big/tmp"
cp -r "$src/sample" "$big/root"
cp "${ZELTMP}Sessio.ini" "${ZELTMP}NuvaTerm.ini" "$big/tmp/"
"$build/tools/demodata/demodata" scale "$big/root/" --communities 10 --owners 800 \
  --payments 80000 --collections 16000 >/dev/null
bigsums() { md5sum "$big"/root/DADES/*.dat; }
bigbefore="$(bigsums)"
long=(31/12/2026 1 0 999 999 0)
# env runs the program in its own process, so $! of a run in the
# background is the program itself.
inbig=(env ZELROOT="$big/root/" ZELTMP="$big/tmp/")
run 0 "${inbig[@]}" "$print" "${long[@]}" --no-print-program
cp "$big/tmp/zizavezu.tmp" "$work/long.tmp"
# Waits for the run in the background to be writing its new file NAME.
writing() {
  poll 300 compgen -G "$big/tmp/$1.new-*" >/dev/null || fail "$2: no new $1 written"
}
"${inbig[@]}" "$print" "${long[@]}" --no-print-program 2>/dev/null &
background=$!
writing zizavezu.tmp "first run"
run 1 "${inbig[@]}" "$print" "${all[@]}"
said "Una altra impressi" "second run"
wait "$background" || fail "the first run failed while a second was refused"
background=""
cmp -s "$big/tmp/zizavezu.tmp" "$work/long.tmp" || fail "the first run's print file is not whole"

# Killed halfway: never half a print file. SIGTERM and SIGHUP stop the
# run, which removes the print file of the run before too; after SIGKILL,
# which nothing can follow, that one stays, whole.
run 0 "${inbig[@]}" "$print" "${all[@]}" --no-print-program
cp "$big/tmp/zizavezu.tmp" "$work/short.tmp"
for sig in KILL TERM HUP; do
  cp "$work/short.tmp" "$big/tmp/zizavezu.tmp"
  "${inbig[@]}" "$print" "${long[@]}" --no-print-program 2>/dev/null &
  background=$!
  writing zizavezu.tmp "SIG$sig"
  kill -s "$sig" "$background"
  wait "$background" 2>/dev/null || true
  background=""
  if [ "$sig" = KILL ]; then
    cmp -s "$big/tmp/zizavezu.tmp" "$work/short.tmp" || fail "SIG$sig: the print file changed"
  else
    [ ! -e "$big/tmp/zizavezu.tmp" ] || fail "SIG$sig left a print file"
    compgen -G "$big/tmp/zizavezu.tmp.new-*" >/dev/null && fail "SIG$sig left its new file"
  fi
  rm -f "$big/tmp/"zizavezu.tmp.new-*
done
# The batch printer killed while its print program works on a long print
# file. SIGTERM: the print program is ended and waited for. SIGKILL: it
# works on alone, holding the folder. Either way a second run at once is
# refused or finds it gone, and no PDF of the first run comes later.
alive() { ps -o stat= -p "$1" 2>/dev/null | grep -q '^[^Z]'; }
gone() { ! alive "$1"; }
run 0 "${inbig[@]}" "$print" "${all[@]}"
for sig in TERM KILL; do
  cp "$big/tmp/statements.pdf" "$work/statements.pdf"
  "${inbig[@]}" "$print" "${long[@]}" >/dev/null 2>&1 &
  background=$!
  writing statements.pdf "SIG$sig to the batch printer"
  renderer="$(pgrep -P "$background" ZIZAVEZU)" || fail "SIG$sig: no print program running"
  kill -s "$sig" "$background"
  set +e
  "${inbig[@]}" "$print" "${all[@]}" >"$work/out" 2>"$work/err"
  rc=$?
  set -e
  if [ "$rc" = 0 ]; then
    gone "$renderer" || fail "SIG$sig: a second run went ahead of the first's print program"
    cp "$big/tmp/statements.pdf" "$work/statements.pdf"
  else
    said "Una altra impressi" "a second run after SIG$sig"
  fi
  wait "$background" 2>/dev/null || true
  background=""
  if [ "$sig" = KILL ]; then
    [ "$rc" = 1 ] || fail "SIGKILL: the orphaned print program did not hold the folder"
    kill -TERM "$renderer"
    poll 300 gone "$renderer" || fail "SIGKILL: the print program did not end"
  else
    gone "$renderer" || fail "SIGTERM: the print program outlived the batch printer"
    [ "$rc" = 0 ] || [ ! -e "$big/tmp/zizavezu.tmp" ] || fail "SIGTERM left the stopped run's print file"
  fi
  cmp -s "$big/tmp/statements.pdf" "$work/statements.pdf" || fail "SIG$sig: a PDF came later"
  compgen -G "$big/tmp/statements.pdf.new-*" >/dev/null && fail "SIG$sig left the print program's new PDF"
done
# The print program killed halfway through a long print file: the PDF of the
# run before stays.
run 0 "${inbig[@]}" "$print" "${all[@]}"
cp "$big/tmp/statements.pdf" "$work/statements.pdf"
cp "$work/long.tmp" "$big/tmp/zizavezu.tmp"
"${inbig[@]}" "$ziz" >/dev/null 2>&1 &
background=$!
writing statements.pdf "print program"
kill -9 "$background"
wait "$background" 2>/dev/null || true
background=""
cmp -s "$big/tmp/statements.pdf" "$work/statements.pdf" || fail "a killed print program left half a PDF"
[ "$(bigsums)" = "$bigbefore" ] || fail "a data file of the long runs changed"
unchanged "concurrent and killed runs"

# --- A data folder the user may read but not write -------------------------
# The unprivileged user gets its own temporary folder and a copy of the
# batch printer (the build folder may lie where it cannot go).
mkdir -p "$work/nobody/tmp" "$work/nobody/bin"
cp "${ZELTMP}Sessio.ini" "${ZELTMP}NuvaTerm.ini" "$work/nobody/tmp/"
cp "$print" "$work/nobody/bin/"
chown -R nobody "$work/nobody/tmp"
chmod -R a+rX "$work/nobody" "$work/demo"
mkdir -p "$work/clean/root"
cp -r "$ZELROOT"/FORMS "$ZELROOT"/LOCALE "$ZELROOT"/ddf "$ZELROOT"/Nuva.ini "$work/clean/root/"
mkdir "$work/clean/root/DADES"
cp "$ZELROOT"/DADES/*.dat "$work/clean/root/DADES/"
chmod -R a+rX,go-w "$work/clean"
run 0 "$print" "${all[@]}" --no-print-program
cp "${ZELTMP}zizavezu.tmp" "$work/readable.tmp"
for root in "$ZELROOT" "$work/clean/root/"; do
  listing="$(ls -la "${root}DADES")"
  run 0 runuser -u nobody -- env ZELROOT="$root" ZELTMP="$work/nobody/tmp/" \
    ZELEXE="$work/nobody/bin/" "$work/nobody/bin/telvoran-print" "${all[@]}" --no-print-program
  cmp -s "$work/nobody/tmp/zizavezu.tmp" "$work/readable.tmp" ||
    fail "read-only data folder $root: the statements differ"
  [ "$(ls -la "${root}DADES")" = "$listing" ] || fail "read-only data folder $root: DADES changed"
done
unchanged "read-only data folder"

# --- Folder variables, the form file ---------------------------------------
(cd "$work/demo" && run 0 env ZELROOT=root ZELTMP=tmp/ "$print" "${all[@]}" --no-print-program)
cmp -s "${ZELTMP}zizavezu.tmp" "$work/readable.tmp" || fail "a relative ZELROOT printed other statements"
run 0 env ZELROOT="${ZELROOT%/}" "$print" "${all[@]}" --no-print-program
cmp -s "${ZELTMP}zizavezu.tmp" "$work/readable.tmp" || fail "ZELROOT without its separator differs"
run 1 env ZELEXE="$work/nowhere/" "$print" "${all[@]}"
said "No existeix la carpeta de programes" "a missing program folder"
[ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "a missing program folder left the earlier print file"
run 1 env ZELEXE="$work/" "$print" "${all[@]}"
said "no t" "a program folder without the print program"
cp FORMS/TELVORAN.ZPN "$work/forms"
for cut in 1000 300; do
  head -c "$cut" "$work/forms" >FORMS/TELVORAN.ZPN
  rm -f "${ZELTMP}zizavezu.tmp"
  run 1 "$print" "${all[@]}"
  said "TELVORAN.ZPN" "form file cut at $cut"
  [ ! -e "${ZELTMP}zizavezu.tmp" ] || fail "form file cut at $cut: a print file was written"
done
cp "$work/forms" FORMS/TELVORAN.ZPN
unchanged "folder variables and form file"

# --- The module's work files, through TELVORAN in tmux ---------------------
start() {
  rm -f "$work/rc"
  tmux_next_server
  tm -f /dev/null new-session -d -s t -x 80 -y 25 \
    "cd '$ZELROOT' && LANG=C.UTF-8 TERM=xterm-256color '$module' 2>'$work/err'; \
     echo \$? > '$work/rc'; sleep 30"
}
on_screen() { tm capture-pane -p -t t | grep -qF -- "$1"; }
not_on_screen() { ! on_screen "$1"; }
wait_for() { poll 150 on_screen "$1" || fail "timed out waiting for: $1"; }
wait_gone() { poll 150 not_on_screen "$1" || fail "still on the screen: $1"; }
wait_exit() { poll 150 test -s "$work/rc" || fail "the module did not end"; }
keys() { tm send-keys -t t "$@"; sleep 0.3; }
for kind in sym hard; do
  plant "$kind" "${ZELTMP}Browse.tmp"
  plant "$kind" "${term}ZELCALC.TMP"
  start
  wait_for "Data de l'informe"
  keys Enter F4
  wait_for "Comunitats"
  keys Escape
  wait_gone "Comunitats"
  keys M-x
  wait_for "┌────────────────────────┐"
  keys -l "12.5"
  keys Escape
  wait_gone "┌────────────────────────┐"
  keys Escape
  keys Escape
  wait_exit
  [ "$(cat "$work/rc")" = 0 ] || fail "Browse.tmp, ZELCALC.TMP ($kind): exit status $(cat "$work/rc")"
  replaced "${ZELTMP}Browse.tmp" "Browse.tmp ($kind)"
  replaced "${term}ZELCALC.TMP" "ZELCALC.TMP ($kind)"
  [ -s "${term}ZELCALC.TMP" ] || fail "ZELCALC.TMP ($kind): the calculator kept nothing"
  unchanged "Browse.tmp, ZELCALC.TMP ($kind)"

  # The window stack: refused, the module ends at its first window with the
  # message.
  plant "$kind" "${ZELTMP}WinPush.tmp"
  start
  wait_exit
  [ "$(cat "$work/rc")" = 1 ] || fail "WinPush.tmp ($kind): exit status $(cat "$work/rc")"
  said "WinPush.tmp" "WinPush.tmp ($kind)"
  rm -f "${ZELTMP}WinPush.tmp" "${ZELTMP}Browse.tmp"
  unchanged "WinPush.tmp ($kind)"
  tm kill-server 2>/dev/null || true
done

# Browse.tmp a FIFO (never waited on: its name goes and the list makes its
# own cache) or a folder (left alone: the list says it cannot open).
for kind in fifo folder; do
  if [ "$kind" = fifo ]; then mkfifo "${ZELTMP}Browse.tmp"; else mkdir "${ZELTMP}Browse.tmp"; fi
  start
  wait_for "Data de l'informe"
  keys Enter F4
  if [ "$kind" = fifo ]; then
    wait_for "Comunitats"
    [ ! -p "${ZELTMP}Browse.tmp" ] || fail "Browse.tmp (fifo): still a FIFO with the list open"
    keys Escape
    wait_gone "Comunitats"
  else
    wait_for "La llista no es pot obrir"
    keys Escape
    wait_gone "La llista no es pot obrir"
  fi
  keys Escape
  keys Escape
  wait_exit
  [ "$(cat "$work/rc")" = 0 ] || fail "Browse.tmp ($kind): exit status $(cat "$work/rc")"
  if [ "$kind" = folder ]; then
    [ -d "${ZELTMP}Browse.tmp" ] || fail "Browse.tmp (folder): the folder went"
    rmdir "${ZELTMP}Browse.tmp"
  fi
  [ ! -e "${ZELTMP}Browse.tmp" ] || fail "Browse.tmp ($kind): left behind"
  unchanged "Browse.tmp ($kind)"
  tm kill-server 2>/dev/null || true
done

echo "data safety: all checks passed"
