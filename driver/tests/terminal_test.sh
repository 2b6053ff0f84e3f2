#!/usr/bin/env bash
# End-to-end checks of TELVORAN in a real terminal (tmux) on the demo
# installation:
#   terminal_test.sh SOURCE_DIR BUILD_DIR
# Types into the parameter form, confirms, checks the print file and the
# print program run, the refusals (bad date, reversed range, N in the
# confirmation), Esc with exit status 0, that no window stack file is left
# and that no data file changed; then a missing data file in Spanish.
set -euo pipefail
src="$1"
build="$2"
command -v tmux >/dev/null || { echo "tmux not installed: skipped"; exit 0; }

work="$(mktemp -d /tmp/telvoran-term-XXXXXX)"
# A server of its own per session: one still shutting down after
# kill-server must never be the one the next session connects to.
runs=0
sock="telvoran-test-$$-0"
tm() { tmux -L "$sock" "$@"; }
cleanup() { tm kill-server 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- screen ---"
  tm capture-pane -p -t t 2>/dev/null || true
  exit 1
}

"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
bin="$build/driver/TELVORAN"
sums() { md5sum "$ZELROOT"/DADES/*.dat; }
before="$(sums)"

# Starts TELVORAN in a fresh 80 x 25 session; its exit status lands in
# $work/rc and everything it writes to the terminal in $work/out.
start() {
  rm -f "$work/rc" "$work/out"
  runs=$((runs + 1))
  sock="telvoran-test-$$-$runs"
  tm -f /dev/null new-session -d -s t -x 80 -y 25 \
    "cd '$ZELROOT' && ZELROOT='$ZELROOT' ZELTMP='$ZELTMP' ZELEXE='$ZELEXE' \
     LANG=C.UTF-8 TERM=xterm-256color '$bin'; echo \$? > '$work/rc'; sleep 30"
  tm pipe-pane -o -t t "cat >> '$work/out'"
}
screen() { tm capture-pane -p -t t; }
# Waits up to 15 s for a text on the screen.
wait_for() {
  for _ in $(seq 150); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  fail "timed out waiting for: $1"
}
wait_gone() {
  for _ in $(seq 150); do
    screen | grep -qF -- "$1" || return 0
    sleep 0.1
  done
  fail "still on the screen: $1"
}
wait_exit() {
  for _ in $(seq 150); do
    [ -s "$work/rc" ] && return 0
    sleep 0.1
  done
  fail "the program did not end"
}
keys() { tm send-keys -t t "$@"; sleep 0.3; }
cursor_row() { tm display -p -t t '#{cursor_y}'; }
bells() { tr -cd '\a' < "$work/out" | wc -c; }

start
wait_for "Data de l'informe"
screen | head -1 | grep -qF "Administracio de finques" || fail "title on row 1"
screen | grep -qF "Fins a la comunitat" || fail "labels"
date_row="$(cursor_row)"

# A date that does not exist beeps and keeps the cursor in the date field.
b0="$(bells)"
keys -l "31/02/2024"
keys Enter
[ "$(bells)" -gt "$b0" ] || fail "no beep for 31/02/2024"
[ "$(cursor_row)" = "$date_row" ] || fail "left the date field after a bad date"

# A lower bound above the upper one keeps the form (back on the first field,
# no confirmation asked).
keys Home C-y
keys -l "31/12/2026"
keys Enter
keys C-y; keys -l "5"; keys Enter Enter
keys C-y; keys -l "4"; keys Enter Enter Enter
sleep 0.5
screen | grep -qF "Confirmeu" && fail "a reversed range asked for confirmation"
[ "$(cursor_row)" = "$date_row" ] || fail "a reversed range did not go back to the first field"

# N in the confirmation returns to the form with the values kept.
keys Enter
keys C-y; keys -l "1"; keys Enter Enter
keys C-y; keys -l "999"; keys Enter Enter Enter
wait_for "Confirmeu"
keys -l "N"; keys Enter
wait_gone "Confirmeu"
# (the field being edited shows the stored edit form of the date)
screen | grep -qE "31/12/2026|311226" || fail "values lost after N"
screen | grep -qF "999" || fail "upper bound lost after N"

# S prints: the print file is written and the print program makes the PDF.
rm -f "${ZELTMP}zizavezu.tmp" "${ZELTMP}statements.pdf"
keys Enter Enter Enter Enter Enter Enter
wait_for "Confirmeu"
keys -l "S"; keys Enter
for _ in $(seq 150); do [ -s "${ZELTMP}statements.pdf" ] && break; sleep 0.1; done
[ -s "${ZELTMP}zizavezu.tmp" ] || fail "no print file"
[ -s "${ZELTMP}statements.pdf" ] || fail "the print program did not run"
grep -q "RESUM DE DESPESES" "${ZELTMP}zizavezu.tmp" || fail "print file content"
wait_for "Data de l'informe"

# Esc ends the program with status 0 and leaves no window stack behind.
keys Escape
sleep 0.3
keys Escape
wait_exit
[ "$(cat "$work/rc")" = "0" ] || fail "exit status $(cat "$work/rc")"
[ ! -e "${ZELTMP}WinPush.tmp" ] || fail "WinPush.tmp left behind"
tm kill-server 2>/dev/null || true
[ "$(sums)" = "$before" ] || fail "a data file changed"

# A data file that is missing with no definition to create it from: the
# Spanish message, and status 0 after a key.
sed -i 's/^Idioma=.*/Idioma=SPA\r/' "${ZELTMP}NuvaTerm.ini"
rm -f "$ZELROOT/DADES/TDespesa.dat" "$ZELROOT/ddf/TDespesa.xdf"
start
wait_for "NO SE PUEDE ACCEDER AL FICHERO DADES\\TDespesa"
keys x
wait_exit
[ "$(cat "$work/rc")" = "0" ] || fail "exit status $(cat "$work/rc") after the open failure"

echo "terminal: all checks passed"
