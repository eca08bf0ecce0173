# Sourced by the benchmark scripts (bash, $work set): median COMMAND runs the
# command three times and prints the median wall and processor (user +
# system) seconds. On a busy machine the processor time is the steadier
# figure of the two.
median() {
  local walls=() cpus=()
  for _ in 1 2 3; do
    local times
    /usr/bin/time -o "$work/times" -f '%e %U %S' bash -c "$1" >/dev/null 2>&1 || { echo "failed failed"; return; }
    times=$(tail -1 "$work/times")
    walls+=("$(echo "$times" | awk '{print $1}')")
    cpus+=("$(echo "$times" | awk '{print $2 + $3}')")
  done
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n 2p) $(printf '%s\n' "${cpus[@]}" | sort -n | sed -n 2p)"
}
