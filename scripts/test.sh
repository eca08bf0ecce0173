#!/usr/bin/env bash
# Builds kora and runs every test:
#   1. GCC Release build in build-release/ of everything (tests, data tools,
#      benchmarks): optimised code draws warnings that -O2 does not, so it
#      must build without one; then every ctest test (unit tests in
#      parallel, the others one at a time) and a smoke run of its programs;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/: the unit tests;
#   3. libFuzzer build in build-fuzz/ (clang): each fuzz target over its
#      committed corpus fuzz/corpus/<name>/, once per input.
# Every build here treats warnings as errors (KORA_WERROR), which a plain
# cmake build does not. Installs missing Debian packages first. Exits
# non-zero when anything fails.
#
# Environment:
#   KORA_FIXTURES       fixtures folder (default: ../shared/fixtures beside the repository)
#   KORA_FUZZ_SECONDS   also fuzz each target for this many seconds (default 0: replay only)
set -uo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo" || exit 1
"$repo/scripts/deps.sh" test || { echo "test.sh: installing the packages failed"; exit 1; }

fixtures="${KORA_FIXTURES:-$repo/../shared/fixtures}"
if [ -d "$fixtures" ]; then
  fixtures="$(cd "$fixtures" && pwd)"
else
  echo "test.sh: warning: fixtures folder $fixtures not found"
fi
jobs="$(nproc)"
fuzz_seconds="${KORA_FUZZ_SECONDS:-0}"
total_start=$SECONDS
passed=0
failed=0
failed_steps=()

step() {
  echo
  echo "=== $1"
  step_name="$1"
  step_start=$SECONDS
}
step_done() {
  echo "=== $step_name: $((SECONDS - step_start))s"
}
fail() {
  failed_steps+=("$1")
  echo "FAILED: $1"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$repo" -B "$repo/$dir" -G Ninja -DKORA_FIXTURES_DIR="$fixtures" -DKORA_WERROR=ON "$@" &&
    cmake --build "$repo/$dir" -j"$jobs"
}

# run_ctest NAME DIR [ctest options...]: runs the tests and adds up the counts.
run_ctest() {
  local name="$1" dir="$2"
  shift 2
  if ctest --test-dir "$repo/$dir" -N "$@" | grep -q '^Total Tests: 0$'; then
    echo "($name: no tests)"
    return 0
  fi
  local out rc summary
  out="$(mktemp)"
  ctest --test-dir "$repo/$dir" --output-on-failure --timeout 300 "$@" 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  summary="$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$out" | tail -1)"
  rm -f "$out"
  if [ -n "$summary" ]; then
    local bad all
    bad="$(echo "$summary" | awk '{print $1}')"
    all="$(echo "$summary" | awk '{print $NF}')"
    passed=$((passed + all - bad))
    failed=$((failed + bad))
  fi
  [ "$rc" -eq 0 ] || fail "$name"
}

# release_smoke DIR: the optimised programs do their plainest jobs: the demo
# tables are written, a batch header check of all of them says nothing, and
# the usage text is printed.
release_smoke() {
  local dir="$1" work rc=0 out
  work="$(mktemp -d)"
  mkdir "$work/bin" && ln -s "$dir/kora" "$work/bin/kora"
  if ! "$dir/make_demo" "$work" >/dev/null; then
    echo "make_demo failed"; rc=1
  fi
  out="$(cd "$work" && "$work/bin/kora" /a+ ./*.dbf 2>&1 </dev/null)" || { echo "kora /a+ failed"; rc=1; }
  [ -z "$out" ] || { echo "kora /a+ said: $out"; rc=1; }
  out="$("$work/bin/kora" /h 2>&1 </dev/null)" || { echo "kora /h failed"; rc=1; }
  echo "$out" | grep -q '/ro - Read Only mode' || { echo "kora /h printed no usage"; rc=1; }
  rm -rf "$work"
  [ "$rc" -eq 0 ] && echo "release programs ran cleanly"
  return "$rc"
}

# 1. Release build, where the tests run: optimised code draws warnings that
# -O2 does not, and one build of everything keeps the run short.
step "GCC release build (build-release/)"
if configure_and_build build-release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DKORA_BENCH=ON; then
  step_done
  step "tests (build-release/)"
  run_ctest "unit tests" build-release -L unit -j"$jobs"
  run_ctest "other tests" build-release -LE unit
  step_done
  step "smoke run of the release build"
  if release_smoke "$repo/build-release"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    fail "release smoke run"
  fi
  step_done
else
  fail "release build"
fi

# 2. Sanitizer build.
step "sanitizer build (build-asan/)"
if configure_and_build build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DKORA_SANITIZE=ON; then
  step_done
  step "unit tests under ASan/UBSan (build-asan/)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "sanitizer unit tests" build-asan -L unit -j"$jobs"
  step_done
else
  fail "sanitizer build"
fi

# 3. Fuzz targets over their corpora.
step "fuzz build (build-fuzz/)"
targets=()
for corpus in "$repo"/fuzz/corpus/*/; do
  [ -d "$corpus" ] && targets+=("fuzz_$(basename "$corpus")")
done
if cmake -S "$repo" -B "$repo/build-fuzz" -G Ninja -DKORA_FIXTURES_DIR="$fixtures" -DKORA_WERROR=ON \
     -DCMAKE_CXX_COMPILER=clang++ -DKORA_FUZZ=ON -DKORA_SANITIZE=ON -DKORA_TESTS=OFF &&
   cmake --build "$repo/build-fuzz" -j"$jobs" --target "${targets[@]}"; then
  step_done
  for target in "${targets[@]}"; do
    name="${target#fuzz_}"
    step "$target over fuzz/corpus/$name/"
    mapfile -t inputs < <(find "$repo/fuzz/corpus/$name" -type f ! -name '.*' | sort)
    log="$repo/build-fuzz/$target.log"
    if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
         "$repo/build-fuzz/fuzz/$target" "${inputs[@]}" >"$log" 2>&1; then
      echo "${#inputs[@]} inputs ran cleanly"
      passed=$((passed + 1))
    else
      tail -n 60 "$log"
      failed=$((failed + 1))
      fail "$target corpus replay (log: $log)"
    fi
    if [ "$fuzz_seconds" -gt 0 ]; then
      work="$repo/build-fuzz/corpus-work/$name"
      mkdir -p "$work"
      cp -n "${inputs[@]}" "$work/"
      if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
           "$repo/build-fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" \
           -artifact_prefix="$repo/build-fuzz/" "$work" >"$log.fuzz" 2>&1; then
        echo "fuzzed ${fuzz_seconds}s without a crash"
      else
        tail -n 60 "$log.fuzz"
        failed=$((failed + 1))
        fail "$target fuzzing (log: $log.fuzz)"
      fi
    fi
    step_done
  done
else
  fail "fuzz build"
fi

echo
echo "=== total time: $((SECONDS - total_start))s"
if [ ${#failed_steps[@]} -gt 0 ]; then
  echo "Failed steps:"
  printf '  %s\n' "${failed_steps[@]}"
  [ "$failed" -eq 0 ] && failed=${#failed_steps[@]}
fi
echo "summary: $passed passed, $failed failed"
[ ${#failed_steps[@]} -eq 0 ]
