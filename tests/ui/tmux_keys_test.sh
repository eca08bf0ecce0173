#!/bin/sh
# End-to-end check of the screen and keyboard in a real terminal: runs
# kora_keytest under tmux with two terminal types, presses keys with
# send-keys and compares the key codes the program shows; then measures the
# CPU time the program uses while it waits for 3 seconds.
# Usage: tmux_keys_test.sh path/to/kora_keytest
set -u
program=${1:?usage: tmux_keys_test.sh path/to/kora_keytest}
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
failures=0
session=kora_keys_$$

fail() { echo "FAIL [$1]: $2"; failures=$((failures + 1)); }

run_terminal() {
  term=$1
  # A server of its own per terminal: a new session on a server that is
  # still shutting down would fail to start.
  socket=kora_keys_$$_$term
  tmux -L "$socket" -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
    "env TERM=$term LANG=C.UTF-8 LC_ALL=C.UTF-8 $program; sleep 30"
  i=0
  until tmux -L "$socket" capture-pane -p -t "$session" | grep -q ready; do
    i=$((i + 1)); [ $i -gt 50 ] && { fail "$term" "program did not start"; return; }
    sleep 0.1
  done
  screen=$(tmux -L "$socket" capture-pane -p -t "$session")
  echo "$screen" | grep -q "Привет √" || fail "$term" "Cyrillic text not shown"
  echo "$screen" | grep -q "╔═" || fail "$term" "frame not shown"

  pid=$(pgrep -n -f "^$program\$" || true)
  [ -n "$pid" ] || pid=$(tmux -L "$socket" list-panes -t "$session" -F '#{pane_pid}')
  ticks_before=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null || echo 0)
  sleep 3
  ticks_after=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null || echo 0)
  used=$((ticks_after - ticks_before))
  # 3 s of waiting may cost a few clock ticks (1/100 s each), not more.
  [ "$used" -le 5 ] || fail "$term" "idle program used $used ticks of CPU in 3 s"
  echo "[$term] idle CPU over 3 s: $used ticks (pid $pid, $(cat /proc/$pid/comm 2>/dev/null))"

  for key in M-f C-Left S-F1 C-F9 M-F3 F1 C-End Tab KP8 KPEnter Escape; do
    tmux -L "$socket" send-keys -t "$session" "$key"
    sleep 0.3
  done
  got=$(tmux -L "$socket" capture-pane -p -t "$session" | sed -n 's/^  key \([0-9A-F]*\).*/\1/p' | tr '\n' ' ')
  want="2100 7300 5400 6600 6A00 3B00 7500 0F09 0038 1C0D 011B "
  [ "$got" = "$want" ] || fail "$term" "keys: got '$got', want '$want'"
  echo "[$term] keys: $got"
  tmux -L "$socket" send-keys -t "$session" Escape
  sleep 0.3
  tmux -L "$socket" kill-server 2>/dev/null
}

run_terminal xterm-256color
run_terminal screen-256color
[ $failures -eq 0 ] && echo PASS
exit $failures
