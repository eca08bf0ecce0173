# Shared by the tmux end-to-end scripts: sourced after they define tmux_ and
# set $session. Counts failures, reads the pane and waits for texts on it.
failures=0
fail() { echo "FAIL [$1]: $2"; failures=$((failures + 1)); }
screen() { tmux_ capture-pane -p -t "$session"; }

# Waits up to 5 s for a text on the screen.
wait_for() {
  i=0
  until screen | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt 50 ] && return 1
    sleep 0.1
  done
}

# Waits up to 5 s for a text to leave the screen.
wait_gone() {
  i=0
  while screen | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt 50 ] && return 1
    sleep 0.1
  done
}
