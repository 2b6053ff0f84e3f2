#!/usr/bin/env bash
# Bytes the terminal console sends: the first full draw of an 80 x 25 screen
# (frame, texts, colours, a field) and then one typed character echoed into
# the field, which must cost a few dozen bytes, not a screen's worth.
#   bench/terminal_bytes.sh [BUILD_DIR] [TERM]   (build/release, tmux-256color)
# Runs terminal_probe under tmux and captures what it writes with pipe-pane.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
term="${2:-tmux-256color}"
probe="$build/platform/terminal_probe"
[ -x "$probe" ] || { echo "no $probe: build the terminal_probe target first" >&2; exit 1; }
command -v tmux >/dev/null || { echo "tmux not installed" >&2; exit 1; }

work="$(mktemp -d /tmp/telvoran-bytes-XXXXXX)"
sock="telvoran-bytes-$$"
tm() { tmux -L "$sock" "$@"; }
cleanup() { tm kill-server 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

wait_for() {  # FILE LINE: up to 20 s
  for _ in $(seq 400); do
    grep -qxF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "timed out waiting for '$2'" >&2
  exit 1
}
# The capture's size once it has stopped growing for 0.3 s.
settled_size() {
  local last=-1 size
  for _ in $(seq 100); do
    size=$(stat -c %s "$work/out")
    [ "$size" = "$last" ] && { echo "$size"; return; }
    last=$size
    sleep 0.3
  done
  echo "$size"
}

# The pane waits for the go file, so the capture starts before the probe.
touch "$work/out"
tm -f /dev/null new-session -d -s b -x 80 -y 25 \
  "while [ ! -e '$work/go' ]; do sleep 0.05; done; \
   LANG=C.UTF-8 TERM=$term exec '$probe' --log '$work/log' --ready '$work/ready'"
tm pipe-pane -O -t b "cat >> '$work/out'"
touch "$work/go"
wait_for "$work/ready" "ready"
draw=$(settled_size)

one_key() {  # KEY: bytes written for it
  local before after
  before=$(settled_size)
  tm send-keys -t b -l "$1"
  wait_for "$work/log" "key ch=$(printf '%02X' "'$1") scan=$2 mods=00"
  after=$(settled_size)
  echo $((after - before))
}
first=$(one_key x 2D)
cp "$work/out" "$work/out.1"
second=$(one_key y 15)
tm send-keys -t b Escape

echo "terminal $term, 80 x 25:"
echo "  first full draw: $draw bytes"
echo "  one typed character: $first bytes"
echo "  the next character: $second bytes"
echo "  bytes for the first character, escaped:"
tail -c "$first" "$work/out.1" | od -An -c | sed 's/^/   /'
