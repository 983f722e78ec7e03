#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and Undefined-
# BehaviorSanitizer on the whole core library) and runs every target for a
# bounded time, as many at once as there are cores. Exits non-zero when any
# target finds a crash, a sanitizer report, a leak, a timeout or an
# out-of-memory; the input that caused it is left in the build folder.
#
#   bash fuzz/run.sh                      # every target, 30 s each
#   FUZZ_SECONDS=600 bash fuzz/run.sh run # one target for 10 minutes
#
# Environment: FUZZ_SECONDS (default 30), FUZZ_BUILD_DIR (default
# build-fuzz), FUZZ_JOBS (targets run at once; default: the number of cores).
# Each target keeps the inputs it found in FUZZ_BUILD_DIR/corpus/<target>, so
# later runs start from there; the seeds in fuzz/corpus/<target> are read
# but never written.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}

# clang and its runtimes (libFuzzer, the sanitizers) when missing.
if ! command -v clang++ >/dev/null 2>&1 || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "fuzz: clang and libclang-rt-14-dev are needed (install them as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq clang libclang-rt-14-dev cmake make >/dev/null
fi

echo "== Building the fuzz targets in $build"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
  -DKELMOTRA_FUZZ=ON -DKELMOTRA_TESTS=OFF -DKELMOTRA_TOOLS=OFF >/dev/null
# Only the fuzz targets: the program, tools and tests are not needed here.
fuzz_targets=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[a-z_]*\).*/\1/p' |
  grep -v '^fuzz_make_corpus$')
# shellcheck disable=SC2086
cmake --build "$build" -j"$jobs" --target $fuzz_targets >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for bin in "$build"/fuzz/fuzz_*; do
    name=$(basename "$bin")
    [ "$name" = fuzz_make_corpus ] && continue
    [ -x "$bin" ] && targets+=("${name#fuzz_}")
  done
fi

# Findings abort at once; leaks count as findings too.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1

run_target() {
  local t=$1
  local work="$build/corpus/$t" log="$build/logs/$t.log"
  mkdir -p "$work" "$build/logs" "$build/artifacts"
  local seeds=()
  [ -d "$root/fuzz/corpus/$t" ] && seeds=("$root/fuzz/corpus/$t")
  # The whole-run target writes notices of the note on both streams; they
  # are dropped (libFuzzer and the sanitizers keep a copy of the error stream).
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "$work" "${seeds[@]}" >"$log" 2>&1
}

status=0
failed=()
pids=()
names=()
wait_one() {
  local pid=${pids[0]} name=${names[0]}
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
  if wait "$pid"; then
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$name.log" | grep -o '[0-9]*$' || true)
    echo "   $name: ok, ${runs:-?} runs"
  else
    echo "   $name: FINDING (log: $build/logs/$name.log)"
    grep -E 'ERROR|runtime error|Test unit written|SUMMARY' "$build/logs/$name.log" | head -n 8 | sed 's/^/     /'
    failed+=("$name")
    status=1
  fi
}

echo "== Fuzzing ${#targets[@]} targets, $seconds s each, $jobs at a time"
for t in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/fuzz_$t" ]; then
    echo "fuzz: no target $t" >&2
    exit 2
  fi
  run_target "$t" &
  pids+=($!)
  names+=("$t")
  if [ ${#pids[@]} -ge "$jobs" ]; then wait_one; fi
done
while [ ${#pids[@]} -gt 0 ]; do wait_one; done

if [ $status -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
fi
exit $status
