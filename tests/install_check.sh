#!/bin/sh
# Installs kora into a temporary prefix and runs the installed program: its
# version, a batch export, the help table and manual page in their places,
# and, with the program's folder read-only, the side files kept in the
# user's own folder under XDG_CONFIG_HOME.
#   install_check.sh BUILD_DIR TABLE.dbf
set -eu
build=${1:?usage: install_check.sh BUILD_DIR TABLE.dbf}
table=${2:?usage: install_check.sh BUILD_DIR TABLE.dbf}
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/usr" >/dev/null
kora=$tmp/usr/bin/kora
for file in share/kora/help/english.dbf share/kora/help/english.dbt share/man/man1/kora.1 share/doc/kora/README.md; do
  [ -f "$tmp/usr/$file" ] || fail "not installed: $file"
done

mkdir "$tmp/work" "$tmp/home" "$tmp/config"
cp "$table" "$tmp/work/t.dbf"
chmod -R a+rwX "$tmp/work" "$tmp/home" "$tmp/config"
cd "$tmp/work"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config"

"$kora" --version | grep -q '^kora [0-9]' || fail "--version"
"$kora" /x:csv t.dbf > installed.csv || fail "installed /x:csv"
"$build/kora" /x:csv t.dbf > built.csv || fail "built /x:csv"
[ -s installed.csv ] && cmp -s installed.csv built.csv || fail "installed export differs from the built one"
# The program's folder may be written: the files beside it are the user's.
[ -z "$(ls -A "$tmp/config")" ] || fail "user folder used though the program's folder is writable"
printf '[Options]\r\nReadOnly=1\r\n' > "$tmp/usr/bin/kora.ini"

# A system-wide install: the program's folder is read-only. Root writes
# anywhere, so then the program runs as an unprivileged user.
chmod 555 "$tmp/usr/bin"
as_user=""
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "SKIP: root without setpriv"; exit 0; }
  as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
before=$(ls "$tmp/usr/bin")
$as_user "$kora" /x:csv t.dbf > user.csv || fail "/x:csv from a read-only install"
cmp -s user.csv built.csv || fail "export from a read-only install differs"
[ "$(ls "$tmp/usr/bin")" = "$before" ] || fail "files made beside a read-only program"
own=$tmp/config/kora
[ "$(stat -c %a "$own")" = 700 ] || fail "user folder is not private: $(stat -c %a "$own")"
cmp -s "$own/kora.ini" "$tmp/usr/bin/kora.ini" || fail "user's kora.ini does not start from the defaults"

# F1 in the installed program shows help from share/kora/help (nothing
# beside the program holds a help table).
command -v tmux >/dev/null || { echo "SKIP: F1 check without tmux; the rest OK"; exit 0; }
tmux_() { tmux -L "kora_install_$$" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
tmux_ -f /dev/null new-session -d -s k -x 100 -y 30 \
  "cd '$tmp/work' && env TERM=xterm-256color LANG=C.UTF-8 $as_user '$kora' t.dbf; echo EXIT=\$?; sleep 30"
wait_for() {
  i=0
  until tmux_ capture-pane -p -t k | grep -q -- "$1"; do
    i=$((i + 1)); [ $i -gt 150 ] && return 1
    sleep 0.1
  done
}
wait_for "t.dbf" || fail "installed program did not start"
tmux_ send-keys -t k F1
wait_for "Help: Main screen" || fail "F1 in the installed program shows no help"
tmux_ send-keys -t k Escape
sleep 0.3
tmux_ send-keys -t k F10
wait_for "EXIT=0" || fail "F10 did not end the installed program"
echo "installed kora: OK"
