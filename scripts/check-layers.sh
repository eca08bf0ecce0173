#!/bin/sh
# Checks that each subsystem includes only what it builds on:
#   src/table (the engine)   nothing from src/tools, src/ui or src/app;
#   src/tools (data tools)   nothing from src/ui or src/app;
#   src/ui (the toolkit)     nothing from src/app, and never names the
#                            program's tables (Table).
# Prints every breach as file:line and exits 1 when there is one; also lists
# the engine headers the toolkit uses, for the record.
# Usage: check-layers.sh [SRC_DIR]   (default: src beside this script)
set -u
src=${1:-$(cd "$(dirname "$0")/.." && pwd)/src}
[ -d "$src/table" ] || { echo "check-layers.sh: no $src/table"; exit 2; }
breaches=0

# forbid LAYER DIR...: LAYER's sources include nothing from the named folders.
forbid() {
  layer=$1
  shift
  for dir in "$@"; do
    found=$(grep -EHn "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]$dir/" \
      "$src/$layer"/*.h "$src/$layer"/*.cpp 2>/dev/null)
    if [ -n "$found" ]; then
      echo "src/$layer includes src/$dir:"
      echo "$found" | sed "s|^$src/|  src/|"
      breaches=$((breaches + 1))
    fi
  done
}

forbid table tools ui app
forbid tools ui app
forbid ui app

# The toolkit knows no table: the word Table outside comments is a breach.
named=$(grep -EHn '\bTable\b' "$src"/ui/*.h "$src"/ui/*.cpp 2>/dev/null |
  grep -Ev '^[^:]+:[0-9]+:[[:space:]]*(//|\*|/\*)')
if [ -n "$named" ]; then
  echo "src/ui names Table:"
  echo "$named" | sed "s|^$src/|  src/|"
  breaches=$((breaches + 1))
fi

used=$(grep -Eho '^[[:space:]]*#[[:space:]]*include[[:space:]]*"table/[^"]*"' "$src"/ui/*.h "$src"/ui/*.cpp 2>/dev/null |
  sed -E 's/.*"(table\/[^"]*)"/\1/' | sort -u | tr '\n' ' ')
[ -n "$used" ] && echo "src/ui uses engine headers: $used"

if [ "$breaches" -gt 0 ]; then
  echo "check-layers.sh: $breaches breach(es) of the layering"
  exit 1
fi
echo "check-layers.sh: every subsystem includes only what it builds on"
