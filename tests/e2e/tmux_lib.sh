# Shared by the tmux end-to-end scripts: sourced after they define tmux_ and
# set $session. Counts failures, reads the pane and waits for texts on it.
failures=0
fail() { echo "FAIL [$1]: $2"; failures=$((failures + 1)); }
screen() { tmux_ capture-pane -p -t "$session"; }

# How long the waits below give the program, in tenths of a second: a
# loaded machine (parallel builds) can take seconds to paint a screen.
wait_tenths=${KORA_TMUX_WAIT_TENTHS:-150}

# For scripts that start one session after another on their server: a
# session that only waits keeps the server up, so that a new session never
# meets the server still exiting after the last one ended.
keep_server() {
  tmux_ -f /dev/null new-session -d -s keeper "sleep 600"
}

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

# Skips without tmux or dbfread; makes $work (removed at exit) and a tmux
# server of the script's own named after $1. Defines python, work, session,
# tmux_ and keys.
prepare_e2e() {  # name
  command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
  python=/usr/bin/python3
  "$python" -c "import dbfread" 2>/dev/null || { echo "SKIP: no dbfread for $python"; exit 77; }
  work=$(mktemp -d)
  socket=kora_$1_e2e_$$
  session=kora
  tmux_() { tmux -L "$socket" "$@"; }
  keys() { tmux_ send-keys -t "$session" "$@"; }
  trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
}

# For the scripts that drive kora on a copy of one table: skips without tmux
# or dbfread, copies the table (and its memo file) to $work/run/<copy>.dbf,
# starts kora on it in a cols x rows terminal through a link of its own (its
# side files stay out of the build folder) and waits for a first text.
# Defines work, session, python, tmux_ and keys.
start_on_copy() {  # program, table, copy, cols, rows, first text
  prepare_e2e "$3"
  mkdir "$work/run" "$work/bin"
  ln -s "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" "$work/bin/kora"
  cp "$2" "$work/run/$3.dbf" && chmod u+w "$work/run/$3.dbf"
  for ext in fpt dbt; do
    [ -f "${2%.*}.$ext" ] && cp "${2%.*}.$ext" "$work/run/$3.$ext" && chmod u+w "$work/run/$3.$ext"
  done
  tmux_ -f /dev/null new-session -d -s "$session" -x "$4" -y "$5" \
    "cd '$work/run' && env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$work/bin/kora' $3.dbf; echo \"EXIT=\$?\"; sleep 30"
  wait_for "$6" || { fail start "program did not start"; screen; exit 1; }
}

# F10 ends the program.
quit_kora() {
  keys F10
  wait_for "EXIT=0" || fail end "F10 did not end the program"
  tmux_ kill-server 2>/dev/null
}

# The count of failures is the exit status.
report() {
  [ "$failures" -eq 0 ] && echo PASS
  exit "$failures"
}
