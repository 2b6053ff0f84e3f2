# Shared by the tests that drive a program in tmux; source it, then call
#   tmux_test_init NAME
# which makes the scratch folder $work (removed on exit, with the server)
# and the first server socket. Each session should begin with
# tmux_next_server: a server of its own per session, so that one still
# shutting down after kill-server is never the one the next session meets.
#
# Provides: tm (tmux on the current socket), fail MESSAGE (prints the
# pane, then whatever the script's optional fail_details prints, and exits
# 1), and poll TENTHS COMMAND... (runs COMMAND every 0.1 s until it
# succeeds; status 1 when time runs out).

tmux_test_init() {
  tmux_test_name="$1"
  work="$(mktemp -d "/tmp/$1-XXXXXX")"
  tmux_test_runs=0
  sock="$1-$$-0"
  trap tmux_test_cleanup EXIT
}
tmux_next_server() {
  tm kill-server 2>/dev/null || true
  tmux_test_runs=$((tmux_test_runs + 1))
  sock="$tmux_test_name-$$-$tmux_test_runs"
}
tm() { tmux -L "$sock" "$@"; }
tmux_test_cleanup() {
  tm kill-server 2>/dev/null || true
  rm -rf "$work"
}
fail() {
  echo "FAIL: $*"
  echo "--- screen ---"
  tm capture-pane -p -t t 2>/dev/null || true
  if declare -F fail_details >/dev/null; then fail_details; fi
  exit 1
}
poll() {
  local tenths="$1"
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The module (the program at $1) in a fresh 80 x 25 session t, in $ZELROOT
# with the environment as it is; then the screen helpers below. Their waits
# last TMUX_WAIT tenths of a second (150 unless set).
tmux_start_module() {
  tm -f /dev/null new-session -d -s t -x 80 -y 25 \
    "cd '$ZELROOT' && LANG=C.UTF-8 TERM=xterm-256color '$1'; sleep 60"
}
on_screen() { tm capture-pane -p -t t | grep -qF -- "$1"; }
not_on_screen() { ! on_screen "$1"; }
wait_for() { poll "${TMUX_WAIT:-150}" on_screen "$1" || fail "timed out waiting for: $1"; }
wait_gone() { poll "${TMUX_WAIT:-150}" not_on_screen "$1" || fail "still on the screen: $1"; }
keys() { tm send-keys -t t "$@"; sleep 0.3; }
# Accepts the parameter form as it stands and confirms the print run.
confirm_print_run() {
  keys Enter Enter Enter Enter Enter Enter
  wait_for "Confirmeu"
  keys -l "S"
  keys Enter
}
