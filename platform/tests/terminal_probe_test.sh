#!/usr/bin/env bash
# The terminal console in a real terminal (tmux), through terminal_probe:
#   terminal_probe_test.sh PROBE
# For two terminal descriptions (tmux-256color, which names the modified
# keys, and screen, which does not, so the back end decodes the sequences
# itself): the code page 850 glyphs on the screen, the keys as console
# events (Ctrl+B/C/V/Y arriving as keys, not signals), a mouse release, a
# resize, handing the terminal to a shell and back, and the terminal modes
# restored after Esc. Then the modes restored after a crash.
# Exit 77 (skipped) without tmux.
set -euo pipefail
probe="$1"
command -v tmux >/dev/null || { echo "tmux not installed: skipped"; exit 77; }

source "$(dirname "$0")/../../scripts/tmux-test-lib.sh"
tmux_test_init telvoran-probe
fail_details() {
  echo "--- events ---"
  cat "$work/log" 2>/dev/null || true
}
# Waits up to 20 s for a file to hold a line.
wait_line() {
  poll 200 grep -qxF -- "$2" "$1" 2>/dev/null ||
    fail "timed out waiting for '$2' in $(basename "$1")"
}
wait_file() {
  poll 200 test -s "$1" || fail "timed out waiting for $(basename "$1")"
}

# Starts the probe in a fresh 80 x 25 session; after it ends, the pane's
# terminal modes land in $work/stty.
start() {
  local term="$1"
  shift
  rm -f "$work/log" "$work/ready" "$work/stty"
  tmux_next_server
  tm -f /dev/null new-session -d -s t -x 80 -y 25 \
    "LANG=C.UTF-8 TERM=$term '$probe' --log '$work/log' --ready '$work/ready' $*; \
     stty -a > '$work/stty.tmp'; mv '$work/stty.tmp' '$work/stty'; sleep 30"
  wait_file "$work/ready"
}
# Sends one key (tmux key name) and waits for the probe to report the event.
key() {
  local n
  n=$(wc -l < "$work/log")
  tm send-keys -t t "$1"
  for _ in $(seq 200); do
    [ "$(wc -l < "$work/log")" -gt "$n" ] && break
    sleep 0.05
  done
  local got
  got="$(sed -n "$((n + 1))p" "$work/log")"
  [ "$got" = "$2" ] || fail "$3 ($1): got '$got', want '$2'"
}
# The terminal modes after the probe: canonical input, signals and echo back.
check_restored() {
  wait_file "$work/stty"
  for mode in icanon isig echo iexten ixon; do
    grep -qE "(^| )$mode( |$)" "$work/stty" || fail "$1: terminal mode $mode not restored"
  done
}

for term in tmux-256color screen; do
  infocmp "$term" >/dev/null 2>&1 || { echo "no terminal description $term: skipped"; continue; }
  start "$term" --events
  grep -qx "start rows=25 cols=80 buttons=2" "$work/log" || fail "$term: start line"
  screen="$(tm capture-pane -p -t t)"
  for text in "╔══ TELVORAN terminal probe ═" "Accents: àéíóú ÇÑ ç   Euro: € 100" \
      "Controls: ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼⌂" "┌──┬──┐  ░▒▓█" "╚═════"; do
    grep -qF -- "$text" <<<"$screen" || fail "$term: not on the screen: $text"
  done

  key a "key ch=61 scan=1E mods=00" "$term: letter"
  key é "key ch=82 scan=00 mods=00" "$term: accented letter"
  key € "key ch=D5 scan=00 mods=00" "$term: euro sign"
  key C-b "key ch=02 scan=30 mods=04" "$term: Ctrl+B"
  key C-c "key ch=03 scan=2E mods=04" "$term: Ctrl+C"
  key C-v "key ch=16 scan=2F mods=04" "$term: Ctrl+V"
  key C-y "key ch=19 scan=15 mods=04" "$term: Ctrl+Y"
  key C-z "key ch=1A scan=2C mods=04" "$term: Ctrl+Z"
  key C-s "key ch=13 scan=1F mods=04" "$term: Ctrl+S"
  key 'C-\' "key ch=1C scan=00 mods=04" "$term: Ctrl+backslash"
  key Enter "key ch=0D scan=1C mods=00" "$term: Enter"
  key Tab "key ch=09 scan=0F mods=00" "$term: Tab"
  key BTab "key ch=00 scan=0F mods=00" "$term: Shift+Tab"
  key BSpace "key ch=08 scan=0E mods=00" "$term: Backspace"
  key F1 "key ch=00 scan=3B mods=00" "$term: F1"
  key F10 "key ch=00 scan=44 mods=00" "$term: F10"
  key F11 "key ch=00 scan=85 mods=00" "$term: F11"
  key F12 "key ch=00 scan=86 mods=00" "$term: F12"
  key S-F1 "key ch=00 scan=3B mods=10" "$term: Shift+F1"
  key C-F1 "key ch=00 scan=3B mods=04" "$term: Ctrl+F1"
  key M-F10 "key ch=00 scan=44 mods=01" "$term: Alt+F10"
  key S-F12 "key ch=00 scan=86 mods=10" "$term: Shift+F12"
  key C-F4 "key ch=00 scan=3E mods=04" "$term: Ctrl+F4"
  key M-F4 "key ch=00 scan=3E mods=01" "$term: Alt+F4"
  key Up "key ch=00 scan=48 mods=00" "$term: Up"
  key Down "key ch=00 scan=50 mods=00" "$term: Down"
  key Left "key ch=00 scan=4B mods=00" "$term: Left"
  key Right "key ch=00 scan=4D mods=00" "$term: Right"
  key C-Left "key ch=00 scan=4B mods=04" "$term: Ctrl+Left"
  key C-Right "key ch=00 scan=4D mods=04" "$term: Ctrl+Right"
  key C-Home "key ch=00 scan=47 mods=04" "$term: Ctrl+Home"
  key Home "key ch=00 scan=47 mods=00" "$term: Home"
  key End "key ch=00 scan=4F mods=00" "$term: End"
  key PPage "key ch=00 scan=49 mods=00" "$term: PgUp"
  key NPage "key ch=00 scan=51 mods=00" "$term: PgDn"
  key DC "key ch=00 scan=53 mods=00" "$term: Delete"
  key M-x "key ch=00 scan=2D mods=01" "$term: Alt+X"
  key M-c "key ch=00 scan=2E mods=01" "$term: Alt+C"
  key M-e "key ch=00 scan=12 mods=01" "$term: Alt+E"
  key M-1 "key ch=00 scan=4F mods=01" "$term: Alt+1"
  key M-6 "key ch=00 scan=4D mods=01" "$term: Alt+6"
  key M-5 "key ch=00 scan=4C mods=01" "$term: Alt+5"
  key IC "key ch=00 scan=52 mods=00" "$term: Insert"

  # A left-button press and release at column 10, row 5 (X10 encoding).
  n=$(wc -l < "$work/log")
  tm send-keys -t t -H 1b 5b 4d 20 2a 25 1b 5b 4d 23 2a 25
  wait_line "$work/log" "mouse row=5 col=10 button=1"

  tm resize-window -t t -x 120 -y 30
  wait_line "$work/log" "resize"
  tm resize-window -t t -x 80 -y 25

  # F9 hands the terminal to a shell command and takes it back.
  tm send-keys -t t F9
  wait_line "$work/log" "resumed"
  sleep 0.3
  tm capture-pane -p -t t | grep -qF "Accents: àéíóú" || fail "$term: screen not redrawn after F9"

  tm send-keys -t t Escape
  wait_line "$work/log" "end"
  check_restored "$term: after Esc"
  tm kill-server
done

# A crash (F10 writes to an invalid address) still gives the terminal back.
start tmux-256color --crash
tm send-keys -t t F10
check_restored "after a crash"
grep -qx "end" "$work/log" && fail "the probe did not crash"
echo "terminal probe: all checks passed"
