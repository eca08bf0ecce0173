#!/bin/sh
# The tests run the programs from folders of their own, so they must leave
# the side files beside the built programs (kora.ini, kora.lst, kora.fvr,
# kora.hst, kora.mac and the temporary files they are written through) as
# they found them: a developer's own settings and recent list stay his.
#   side_files_check.sh before BUILD_DIR   records them (run before the tests)
#   side_files_check.sh after BUILD_DIR    fails when any appeared or changed
set -u
mode=${1:?usage: side_files_check.sh before|after BUILD_DIR}
dir=${2:?usage: side_files_check.sh before|after BUILD_DIR}
snapshot="$dir/side-files.snapshot"

side_files() {
  for file in "$dir"/*; do
    case "$(basename "$file")" in
      *.ini | *.ini.* | *.lst | *.lst.* | *.fvr | *.fvr.* | *.hst | *.hst.* | *.mac | *.mac.*)
        stat -c '%n %s %y' "$file" ;;
    esac
  done
}

case "$mode" in
  before)
    side_files > "$snapshot" ;;
  after)
    [ -f "$snapshot" ] || : > "$snapshot"
    now=$(side_files)
    if [ "$now" != "$(cat "$snapshot")" ]; then
      echo "The tests wrote side files beside the built programs in $dir:"
      echo "$now" | diff "$snapshot" - | grep '^[<>]'
      exit 1
    fi
    echo "side files beside the built programs untouched" ;;
  *)
    echo "usage: side_files_check.sh before|after BUILD_DIR"; exit 2 ;;
esac
