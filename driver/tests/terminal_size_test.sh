#!/usr/bin/env bash
# TELVORAN at other terminal sizes, in a real terminal (tmux), on the demo
# installation:
#   terminal_size_test.sh SOURCE_DIR BUILD_DIR
# Started at 60 x 20 it asks for 80 x 25 and shows the form whole once the
# window grows; a pop-up closed leaves no trace; a round trip 80 x 25 ->
# 60 x 20 -> 100 x 30 -> 80 x 25 ends on the same screen, with nothing
# outside the top-left 80 x 25 at 100 x 30; Ctrl+L repaints without being
# taken as a key; a terminal without cursor addressing is refused (status 1).
set -euo pipefail
export LC_ALL=C.UTF-8
src="$1"
build="$2"
command -v tmux >/dev/null || { echo "tmux not installed: skipped"; exit 0; }

source "$src/scripts/tmux-test-lib.sh"
tmux_test_init telvoran-size

"$src/scripts/demo-prepare" "$work/demo" "$build" >/dev/null
source "$work/demo/env"
bin="$build/driver/TELVORAN"

# Starts TELVORAN in a fresh session of COLS x ROWS with TERM; its exit
# status lands in $work/rc.
start() {
  rm -f "$work/rc"
  tmux_next_server
  tm -f /dev/null new-session -d -s t -x "$1" -y "$2" \
    "cd '$ZELROOT' && ZELROOT='$ZELROOT' ZELTMP='$ZELTMP' ZELEXE='$ZELEXE' \
     LANG=C.UTF-8 TERM=$3 '$bin'; echo \$? > '$work/rc'; sleep 30"
  tm set-option -t t window-size manual >/dev/null
}
screen() { tm capture-pane -p -t t; }
on_screen() { screen | grep -qF -- "$1"; }
not_on_screen() { ! on_screen "$1"; }
wait_for() { poll 150 on_screen "$1" || fail "timed out waiting for: $1"; }
wait_gone() { poll 150 not_on_screen "$1" || fail "still on the screen: $1"; }
# The request to enlarge, wrapped over lines, read as one text.
asks_for() { tm capture-pane -p -t t | tr -s ' \n' '  ' | grep -qF "ara fa $1)"; }
wait_request() { poll 150 asks_for "$1" || fail "no request to enlarge naming $1"; }
keys() { tm send-keys -t t "$@"; sleep 0.3; }
size() {
  tm resize-window -t t -x "$1" -y "$2"
  poll 50 test "$(tm display -p -t t '#{window_width}x#{window_height}')" = "$1x$2" ||
    fail "the window did not become $1 x $2"
}
# The form whole: both frame corners and every label.
form_is_whole() {
  local s
  s="$(screen)"
  for t in "╔═══" "═══╗" "╚═══" "═══╝" "Data de l'informe" "Des de la comunitat" \
      "Fins a la comunitat" "pies per comunitat"; do
    grep -qF -- "$t" <<<"$s" || return 1
  done
}
form_whole() { poll 50 form_is_whole || fail "$1: the form is not whole"; }

start 60 20 xterm-256color
wait_request "60 x 20"
on_screen "Data de l'informe" && fail "the form shown in a 60 x 20 terminal"
size 80 25
wait_for "Data de l'informe"
form_whole "after growing to 80 x 25"
not_on_screen "Amplieu" || fail "the enlarge request stayed"
reference="$(screen)"

# A pop-up closed leaves the screen as it was.
keys M-c
wait_for "DL DT DC DJ DV DS DG"
keys Escape
wait_gone "DL DT DC DJ DV DS DG"
[ "$(screen)" = "$reference" ] || fail "the calendar left a trace"

# Round trip; keys typed while too small are dropped.
size 60 20
wait_request "60 x 20"
keys -l "9"
size 100 30
wait_for "Data de l'informe"
n=0
while IFS= read -r line; do
  n=$((n + 1))
  rest="${line:80}"
  [ "$n" -le 25 ] || rest="$line"
  [ -z "${rest// /}" ] || fail "something outside the top-left 80 x 25 at 100 x 30 (row $n)"
done < <(LC_ALL=C.UTF-8 tm capture-pane -p -t t)
size 80 25
poll 50 test "$(screen)" = "$reference" || fail "the round trip changed the screen"

# Too small in one direction only: the request names the size, and the
# form comes back whole. (The rows below the form come back as blanks,
# which tmux lists where it listed nothing before.)
same_as_reference() { [ "$(screen | sed 's/ *$//')" = "$(sed 's/ *$//' <<<"$reference")" ]; }
for wh in "100 20" "60 30" "79 25" "80 24"; do
  set -- $wh
  size "$1" "$2"
  wait_request "$1 x $2"
  size 80 25
  poll 50 same_as_reference || fail "$1 x $2 and back changed the screen"
done

# Ctrl+L repaints the same screen and types nothing.
keys C-l
sleep 0.3
[ "$(screen)" = "$reference" ] || fail "Ctrl+L changed the screen"
keys Escape
sleep 0.3
keys Escape
poll 150 test -s "$work/rc" || fail "the program did not end"
[ "$(cat "$work/rc")" = "0" ] || fail "exit status $(cat "$work/rc")"

# Without cursor addressing: refused before anything is drawn.
start 80 25 dumb
poll 150 test -s "$work/rc" || fail "TERM=dumb: the program did not end"
[ "$(cat "$work/rc")" = "1" ] || fail "TERM=dumb: exit status $(cat "$work/rc")"
on_screen "no pot situar el cursor" || fail "TERM=dumb: no message"
tm kill-server 2>/dev/null || true
echo "terminal size: all checks passed"
