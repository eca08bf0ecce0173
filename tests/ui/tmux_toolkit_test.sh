#!/bin/sh
# End-to-end check of the terminal toolkit in a real terminal: runs
# kora_uidemo under tmux with two terminal types, drives the menu bar, a
# message box, a dialog and the text editor window with send-keys, and
# checks what the screen shows (capture-pane) and what the program logged
# as results. Also checks a few modified function keys, a lone Esc and the
# CPU time of the waiting program. Every step polls for its expected
# outcome with a time-out instead of sleeping a fixed time.
# Usage: tmux_toolkit_test.sh path/to/kora_uidemo
set -u
program=${1:?usage: tmux_toolkit_test.sh path/to/kora_uidemo}
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
command -v iconv >/dev/null 2>&1 || { echo "SKIP: iconv not installed"; exit 77; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
export LANG=C.UTF-8 LC_ALL=C.UTF-8
work=$(mktemp -d "${TMPDIR:-/tmp}/kora_toolkit.XXXXXX")
session=toolkit
failures=0
term=

fail() { echo "FAIL [$term]: $1"; failures=$((failures + 1)); }
tm() { tmux -L "$socket" "$@"; }
screen() { tm capture-pane -p -t "$session"; }
keys() { tm send-keys -t "$session" "$@"; }
typed() { tm send-keys -t "$session" -l "$1"; }

# The code page 866 bytes of a UTF-8 text, as the program logs them.
cp866() { printf '%s' "$1" | iconv -f UTF-8 -t CP866 | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }

# Polls (up to 3 s) until the screen shows / no longer shows a pattern
# (grep -E), or the log has a line (exact).
poll() {
  i=0
  while ! eval "$1"; do
    i=$((i + 1))
    [ $i -ge 60 ] && return 1
    sleep 0.05
  done
}
see() { pattern=$1; poll 'screen | grep -qE -- "$pattern"' || { fail "$2: screen never showed '$1'"; return 1; }; }
gone() { pattern=$1; poll '! screen | grep -qE -- "$pattern"' || { fail "$2: '$1' stayed on the screen"; return 1; }; }
logged() { line=$1; poll 'grep -qxF -- "$line" "$log"' || { fail "$2: no log line '$1'"; tail -3 "$log"; return 1; }; }

check_start() {
  see "kora_uidemo ready" "start" || return 1
  see "╔═+╗" "double frame" || return 1
  see "║ Код страницы 866: ЁёЪъЯя +║" "Cyrillic text in a frame" || return 1
  see "║ ┌─+┐ +║" "single frame" || return 1
  see "║ └─+┘ +║" "single frame" || return 1
  pid=$(sed -n 's/^start pid=\([0-9]*\) .*/\1/p' "$log")
  [ -n "$pid" ] || { fail "no pid in the log"; return 1; }
}

check_idle_cpu() {
  before=$(awk '{print $14 + $15}' /proc/"$pid"/stat)
  sleep 3
  after=$(awk '{print $14 + $15}' /proc/"$pid"/stat)
  used=$((after - before))
  # Waiting costs a few clock ticks (1/100 s each) at most.
  [ "$used" -le 5 ] || fail "idle program used $used ticks of CPU in 3 s"
  echo "[$term] idle CPU over 3 s: $used ticks"
}

check_menu_bar() {
  keys M-f
  see "^ File  View  Edit  Commands  Tools  Favorites  Help" "menu bar" || return 1
  see "│ Recent files +│" "File pull-down" || return 1
  see "│ Modify structure +│" "File pull-down" || return 1
  see "│ Exit +│" "File pull-down" || return 1
  keys Right
  see "│ Browse +│" "Right to View" || return 1
  gone "Recent files" "Right closes File" || return 1
  keys Right
  see "│ Find next +│" "Right to Edit" || return 1
  keys Left
  see "│ Browse +│" "Left back to View" || return 1
  gone "Find next" "Left closes Edit" || return 1
  keys Escape
  logged "menu choice=-1 last=1" "Esc closes the bar" || return 1
  gone "Browse" "Esc takes the pull-down down" || return 1
  gone "^ File  View" "Esc takes the bar down" || return 1
  keys M-f
  see "│ Recent files +│" "Alt+F opens File again" || return 1
  keys Down Enter
  logged "menu choice=1 last=0 label=Recent &files" "Down Enter chooses" || return 1
}

check_message_box() {
  keys m
  see "═ Вопрос ═" "message box title" || return 1
  see "║ +Выберите кнопку +║" "message box text" || return 1
  see ">      Yes     <  >      No      <  >    Cancel    <" "buttons" || return 1
  keys Right Enter
  logged "message_box 1" "Right Enter" || return 1
  gone "Вопрос" "message box closes" || return 1
  keys m
  see "Вопрос" "message box again" || return 1
  keys Left Enter
  logged "message_box 2" "Left wraps to the last button" || return 1
  keys m
  see "Вопрос" "message box again" || return 1
  keys Escape
  logged "message_box -1" "Esc cancels" || return 1
}

check_dialog() {
  keys d
  see "─ Demo ─" "dialog title" || return 1
  see "│ +Имя: +│" "dialog label" || return 1
  see "\[ \] Флажок" "check box" || return 1
  typed "ab Жук ёЁ"
  see "Имя: +ab Жук ёЁ +│" "typed text" || return 1
  keys Tab Space
  see "\[x\] Флажок" "Space checks the box" || return 1
  keys Enter
  logged "dialog result=7 check=1 text=$(cp866 "ab Жук ёЁ")" "OK with Enter" || return 1
  gone "─ Demo ─" "dialog closes" || return 1
  keys d
  see "─ Demo ─" "dialog again" || return 1
  typed "x"
  see "Имя: +x +│" "typed text" || return 1
  keys Escape
  logged "dialog result=0 check=0 text=78" "Esc cancels" || return 1
}

check_text_editor() {
  keys e
  see "═ Текст ═" "editor title" || return 1
  see "║Первая строка +║" "editor text" || return 1
  see "║Третья строка +║" "editor text" || return 1
  keys C-y
  gone "Первая строка" "Ctrl+Y removes the line" || return 1
  see "║Вторая строка +║" "Ctrl+Y moves the next line up" || return 1
  keys Right Right Right Right Right Right Enter
  see "║Вторая +║" "Enter splits the line" || return 1
  see "║ строка +║" "Enter splits the line" || return 1
  typed "Ж"
  see "║Ж строка +║" "typing after the split" || return 1
  keys F2
  logged "text_run 10 lines=3 modified=1" "F2 saves" || return 1
  logged "line 0 $(cp866 "Вторая")" "first line" || return 1
  logged "line 1 $(cp866 "Ж строка")" "split line" || return 1
  logged "line 2 $(cp866 "Третья строка")" "last line" || return 1
  gone "Текст" "editor closes" || return 1
}

check_keys() {
  keys S-F1 C-F9 M-F3 F5 C-Left S-F12
  logged "key 8800" "keys" || return 1
  keys Escape
  logged "key 011B" "lone Esc" || return 1
  got=$(sed -n 's/^key //p' "$log" | tr '\n' ' ')
  want="5400 6600 6A00 3F00 7300 8800 011B "
  [ "$got" = "$want" ] || fail "keys: got '$got', want '$want'"
}

run_terminal() {
  term=$1
  # A server of its own per terminal: a server whose last session ends is
  # still shutting down when the next new-session would reach it.
  socket=kora_toolkit_$$_$term
  log=$work/$term.log
  tm -f /dev/null new-session -d -s "$session" -x 80 -y 25 \
    "env TERM=$term $program $log; sleep 30"
  if check_start; then
    check_idle_cpu
    check_menu_bar && check_message_box && check_dialog && check_text_editor && check_keys &&
      { keys q; logged "end" "q quits"; }
  fi
  tm kill-server 2>/dev/null
}

run_terminal xterm-256color
run_terminal screen-256color
rm -rf "$work"
[ $failures -eq 0 ] && echo PASS
exit $failures
