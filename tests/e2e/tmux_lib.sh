# Shared by the tmux end-to-end scripts: sourced after they define tmux_ and
# set $session. Counts failures, reads the pane and waits for texts on it.
failures=0
fail() { echo "FAIL [$1]: $2"; failures=$((failures + 1)); }
screen() { tmux_ capture-pane -p -t "$session"; }

# How long the waits below give the program, in tenths of a second: a
# loaded machine (parallel builds) can take seconds to paint a screen.
wait_tenths=${KORA_TMUX_WAIT_TENTHS:-150}

# Waits for a text on the screen.
wait_for() {
  i=0
  until screen | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt "$wait_tenths" ] && return 1
    sleep 0.1
  done
}

# Waits for a text to leave the screen.
wait_gone() {
  i=0
  while screen | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt "$wait_tenths" ] && return 1
    sleep 0.1
  done
}
