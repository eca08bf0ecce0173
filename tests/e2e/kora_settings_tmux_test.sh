#!/bin/sh
# End-to-end runs of kora under tmux for the files kept beside the program:
#  1. a kora.ini with DateFormat=3 and another Text colour: the grid shows
#     dates as year.month.day, and the cells in the colour of the file;
#  2. the Options dialog (Alt+F1) switches to Day-Month-Year with "-" as
#     the delimiter: the grid follows at once, kora.ini holds the new
#     [Options] after quitting and they are in force after a restart;
#     A resize with the dialog open repaints it centred at the new size
#     over the grid at that size; closing it leaves the grid at that size;
#     on a screen narrower than the menu bar Alt+H opens Help, and keys
#     typed while the screen is below 40 x 10 do nothing;
#  3. a macro recorded with Ctrl+. and bound to F12 lands in kora.mac and
#     plays after a restart; a recording dropped with Esc changes nothing;
#  4. a terminal without colours (TERM=vt100) shows the table, its cursor
#     bar in reverse video;
#  5. a kora.ini value kora cannot read ("DateFormat = x", blanks around the
#     "=" are allowed) is named with its line on the status line until the
#     next key; MenuHot is read from its own line, not MenuHotSelected's.
# The program is copied into a folder of its own, bin, since it looks for
# its side files beside its own binary; it runs in another folder, data,
# which holds the tables, found once through PATH and otherwise by a
# relative path.
# Usage: kora_settings_tmux_test.sh path/to/kora path/to/people.dbf path/to/dbase_03.dbf
set -u
program=${1:?usage: kora_settings_tmux_test.sh kora people.dbf dbase_03.dbf}
dates_table=${2:?usage: kora_settings_tmux_test.sh kora people.dbf dbase_03.dbf}
rows_table=${3:?usage: kora_settings_tmux_test.sh kora people.dbf dbase_03.dbf}
command -v tmux >/dev/null 2>&1 || { echo "SKIP: tmux not installed"; exit 77; }
work=$(mktemp -d)
session=kora_settings
# A server of its own, its socket in the work folder.
tmux_() { tmux -S "$work/tmux.socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/data"
cp "$program" "$work/bin/kora"
cp "$dates_table" "$work/data/people.dbf"
cp "$rows_table" "$work/data/rows.dbf"
side="$work/bin"
# Ctrl+. reaches the program only as an extended key. The server stays up
# between the runs (a new session could otherwise meet a server on its way
# out) until kill-server.
printf 'set -s extended-keys on\nset -s exit-empty off\n' > "$work/tmux.conf"
. "$(dirname "$0")/tmux_lib.sh"
esc=$(printf '\033')

# Starts the program as $3 (default ../bin/kora) in the data folder on a
# table; 1 when it did not show the text $2.
start() {
  tmux_ -f "$work/tmux.conf" new-session -d -s "$session" -x 80 -y 25 \
    "cd '$work/data' && env PATH='$work/bin':\"\$PATH\" TERM=${run_term:-xterm-256color} LANG=C.UTF-8 LC_ALL=C.UTF-8 \
     ${3:-../bin/kora} $1; echo \"EXIT=\$?\"; sleep 30"
  wait_for "$2" && return 0
  screen
  tmux_ kill-session -t "$session" 2>/dev/null
  return 1
}

# F10, then the session goes; 1 when the program did not end normally.
quit() {
  tmux_ send-keys -t "$session" F10
  wait_for "EXIT=0"; ended=$?
  tmux_ kill-session -t "$session" 2>/dev/null
  return $ended
}

# The colours in force where a text starts on the screen, as
# "fg=N bg=N bold=N" (curses colour numbers, -1 the terminal's default).
colour_at() {
  tmux_ capture-pane -p -e -t "$session" | awk -v RS="$esc" -v text="$1" '
    BEGIN { fg = -1; bg = -1; bold = 0 }
    {
      body = $0
      if (match(body, /^\[[0-9;]*m/)) {
        n = split(substr(body, 2, RLENGTH - 2), codes, ";")
        if (n == 0) { n = 1; codes[1] = 0 }
        for (k = 1; k <= n; k++) {
          c = codes[k] + 0
          if (c == 0) { fg = -1; bg = -1; bold = 0 }
          else if (c == 1) bold = 1
          else if (c == 22) bold = 0
          else if (c >= 30 && c <= 37) fg = c - 30
          else if (c == 39) fg = -1
          else if (c >= 40 && c <= 47) bg = c - 40
          else if (c == 49) bg = -1
          else if (c >= 90 && c <= 97) { fg = c - 90; bold = 1 }
          else if ((c == 38 || c == 48) && codes[k + 1] == 5) {
            if (c == 38) fg = codes[k + 2] + 0; else bg = codes[k + 2] + 0
            k += 2
          }
        }
        body = substr(body, RLENGTH + 1)
      }
      if (index(body, text)) { printf "fg=%d bg=%d bold=%d\n", fg, bg, bold; exit }
    }'
}

# 1. Date format and a colour from kora.ini.
printf '[Options]\r\nDateFormat=3\r\n[Colors]\r\nText=0x2E\r\n' > "$side/kora.ini"
if start people.dbf "1 / 3" kora; then
  shown=$(screen)
  echo "$shown" | grep -q "1987\.03\.01" || fail ini "Alice's birth date not shown as 1987.03.01"
  echo "$shown" | grep -q "1980\.11\.12" || fail ini "Bob's birth date not shown as 1980.11.12"
  # Bob's row is not the current one: it has the Text colour, bright yellow
  # (yellow drawn bold) on green.
  colour=$(colour_at "1980.11.12")
  [ "$colour" = "fg=3 bg=2 bold=1" ] || fail ini "Text=0x2E not used for the cells: $colour"
  quit || fail ini "F10 did not end the program with status 0"
else
  fail ini "program did not start"
fi

# 2. The Options dialog changes the date format and saves it.
if start people.dbf "1 / 3"; then
  tmux_ send-keys -t "$session" M-F1
  if wait_for "Day-Month-Year"; then
    # Focus starts on "Browse": three rows down is "Day-Month-Year", four
    # more the "Other" delimiter, and one more its character.
    tmux_ send-keys -t "$session" Down Down Down Space Down Down Down Down Space Down
    tmux_ send-keys -t "$session" -- -
    tmux_ send-keys -t "$session" Enter
    wait_gone "Day-Month-Year" || fail options "Enter did not close the Options dialog"
    wait_for "12-11-1980" || fail options "grid does not show Bob's date as 12-11-1980"
    screen | grep -q "01-03-1987" || fail options "grid does not show Alice's date as 01-03-1987"
    screen | grep -q "Options saved in" || fail options "OK did not say where the options were saved"
  else
    fail options "Alt+F1 did not open the Options dialog"
  fi
  quit || fail options "F10 did not end the program with status 0"
  grep -q "^DateFormat=1" "$side/kora.ini" || fail options "kora.ini lacks DateFormat=1: $(cat "$side/kora.ini")"
  grep -q "^DateFormat=3" "$side/kora.ini" && fail options "kora.ini still holds DateFormat=3"
  grep -q "^Separator=1" "$side/kora.ini" || fail options "kora.ini lacks Separator=1"
  grep -q "^DateChar=-" "$side/kora.ini" || fail options "kora.ini lacks DateChar=-"
  grep -q "^Text=0x2E" "$side/kora.ini" || fail options "saving the options lost the [Colors] line"
else
  fail options "program did not start"
fi
if start people.dbf "1 / 3"; then
  screen | grep -q "12-11-1980" || fail options "the saved date format is not in force after a restart"
  quit || fail options "F10 did not end the restarted program with status 0"
else
  fail options "program did not start again"
fi

# The column (counted in characters from 0) where a text starts on a row of
# the screen (counted from 1), -1 when it is not there.
column_of() {  # row, text
  screen | sed -n "$1p" | /usr/bin/python3 -c 'import sys; print(sys.stdin.read().find(sys.argv[1]))' "$2"
}

# The width of a row of the screen in characters, its trailing blanks aside.
row_width() {  # row
  screen | sed -n "$1p" | /usr/bin/python3 -c 'import sys; print(len(sys.stdin.read().rstrip()))'
}

# 2b. The terminal grows from 80 x 25 to 100 x 30 with the Options dialog
# open: the dialog (columns 4..75, rows 4..20 of an 80 x 25 screen) is
# centred again, two rows and ten columns further on, over a grid and a
# status line as wide as the new screen.
if start people.dbf "1 / 3"; then
  tmux_ send-keys -t "$session" M-F1
  if wait_for "Day-Month-Year"; then
    tmux_ resize-window -t "$session" -x 100 -y 30
    i=0
    until [ "$(column_of 7 "┌")" = 14 ]; do
      i=$((i + 1)); [ $i -gt "$wait_tenths" ] && break
      sleep 0.1
    done
    [ "$(column_of 7 "┌")" = 14 ] || fail resize "the dialog's frame is not centred at 100 x 30: $(screen)"
    [ "$(column_of 23 "┘")" = 85 ] || fail resize "the dialog's bottom right corner is not at row 23, column 85"
    [ "$(column_of 1 "1 / 3")" = 88 ] || fail resize "the record counter does not end where a 100-column status line has it"
    [ "$(column_of 2 "╗")" = 99 ] || fail resize "the grid's frame does not reach the 100th column"
    [ "$(column_of 29 "╝")" = 99 ] || fail resize "the grid's frame does not reach row 29"
    tmux_ send-keys -t "$session" Escape
    wait_gone "Day-Month-Year" || fail resize "Esc did not close the Options dialog"
    [ "$(column_of 7 "┌")" = -1 ] || fail resize "the dialog's frame stayed after it closed"
    [ "$(row_width 3)" = 100 ] || fail resize "the grid's heading row is not 100 columns wide after the dialog closed"
    screen | sed -n 7p | grep -q "Deleted Guy" || fail resize "the grid's third record is not shown after the dialog closed"
    screen | sed -n 30p | grep -q "10Quit" || fail resize "the key bar is not on the new last row"
    # Narrower than the menu bar Alt+H opens Help; below 40 x 10 keys do nothing.
    tmux_ resize-window -t "$session" -x 44 -y 12
    tmux_ send-keys -t "$session" M-h
    wait_for "About" || fail narrow "Alt+H did not show the Help pull-down on a 44-column screen: $(screen)"
    tmux_ send-keys -t "$session" Escape
    wait_gone "About" || fail narrow "Esc did not close the Help pull-down"
    tmux_ resize-window -t "$session" -x 30 -y 8
    wait_for "At least 40 x 10" || fail narrow "no notice on a 30 x 8 screen: $(screen)"
    tmux_ send-keys -t "$session" Down Down && sleep 1
    tmux_ resize-window -t "$session" -x 100 -y 30
    wait_for "10Quit" || fail narrow "the grid did not come back at 100 x 30"
    screen | sed -n 1p | grep -q "1 / 3" || fail narrow "keys typed below 40 x 10 moved the cursor: $(screen)"
  else
    fail resize "Alt+F1 did not open the Options dialog"
  fi
  quit || fail resize "F10 did not end the program with status 0"
else
  fail resize "program did not start"
fi

# 3. A macro recorded with Ctrl+., bound to F12, played after a restart.
rm -f "$side/kora.ini"
if start rows.dbf "1 / 14"; then
  tmux_ send-keys -t "$session" C-.
  # The recording mark "R" at the start of the second row.
  if wait_for "^R"; then
    tmux_ send-keys -t "$session" Down Down Down
    wait_for "4 / 14" || fail macro "Down did not move the cursor while recording"
    tmux_ send-keys -t "$session" C-.
    if wait_for "Press the desire key"; then
      tmux_ send-keys -t "$session" F12
      wait_gone "Press the desire key" || fail macro "F12 did not answer the prompt"
      wait_gone "^R" || fail macro "the recording mark stayed"
    else
      fail macro "the second Ctrl+. did not ask for the key"
    fi
  else
    fail macro "Ctrl+. did not start recording (is extended-keys reaching the program?)"
  fi
  quit || fail macro "F10 did not end the program with status 0"
  grep -q "^0x8600:	0x5000, 0x5000, 0x5000, $" "$side/kora.mac" 2>/dev/null ||
    fail macro "kora.mac does not bind F12 to three Downs: $(cat "$side/kora.mac" 2>/dev/null)"
else
  fail macro "program did not start"
fi
if start rows.dbf "1 / 14"; then
  tmux_ send-keys -t "$session" F12
  wait_for "4 / 14" || fail macro "F12 did not play the macro after a restart"
  tmux_ send-keys -t "$session" F12
  wait_for "7 / 14" || fail macro "F12 did not play the macro a second time"
  # A recording dropped with Esc at the prompt leaves F12 as it was.
  tmux_ send-keys -t "$session" C-.
  wait_for "^R" || fail macro "Ctrl+. did not start recording after a restart"
  tmux_ send-keys -t "$session" Up
  wait_for "6 / 14" || fail macro "Up did not move the cursor while recording"
  tmux_ send-keys -t "$session" C-.
  wait_for "Press the desire key" || fail macro "the second Ctrl+. did not ask for the key after a restart"
  tmux_ send-keys -t "$session" Escape
  wait_gone "Press the desire key" || fail macro "Esc did not close the prompt"
  tmux_ send-keys -t "$session" F12
  wait_for "9 / 14" || fail macro "F12 lost its macro when a recording was dropped with Esc"
  quit || fail macro "F10 did not end the restarted program with status 0"
  [ "$(grep -c . "$side/kora.mac")" = 1 ] && grep -q "^0x8600:	0x5000, 0x5000, 0x5000, $" "$side/kora.mac" ||
    fail macro "kora.mac changed although no key was bound: $(cat "$side/kora.mac")"
else
  fail macro "program did not start again"
fi

# 4. No colours: the program starts all the same, the cursor bar reversed.
if run_term=vt100 start people.dbf "Alice"; then
  tmux_ capture-pane -p -e -t "$session" | grep "Alice" | grep -q "${esc}\[7m" ||
    fail mono "the cursor bar is not in reverse video on a terminal without colours"
  quit || fail mono "F10 did not end the program on a terminal without colours"
else
  fail mono "the program did not show the table with TERM=vt100"
fi

# 5. A value that is no number is told once, with its line.
printf '[Colors]\r\nMenuHotSelected=0x1F\r\nMenuHot = 0x4E\r\n\r\n[Options]\r\nDateFormat = x\r\n' > "$side/kora.ini"
if start people.dbf "line 6: DateFormat = x is not a number"; then
  tmux_ send-keys -t "$session" Down
  wait_for "people.dbf" || fail ini "the notice did not give way to the table's name after a key"
  # The hot letter of an item not highlighted takes MenuHot: yellow on red.
  tmux_ send-keys -t "$session" F9
  wait_for "Recent files" && tmux_ capture-pane -p -e -t "$session" | grep "Recent" | grep -q "${esc}\[41mf${esc}" ||
    fail ini "MenuHot was not read from its own line"
  tmux_ send-keys -t "$session" Escape
  wait_gone "Recent files"
  quit || fail ini "F10 did not end the program"
else
  fail ini "an unreadable kora.ini value was not named on the status line"
fi

# The side files go beside the program, never into the current folder.
stray=$(ls "$work/data" | grep -v -x -e people.dbf -e rows.dbf)
[ -z "$stray" ] || fail files "side files written into the current folder: $stray"

tmux_ kill-server 2>/dev/null
[ $failures -eq 0 ] && echo PASS
exit $failures
