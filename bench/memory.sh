#!/usr/bin/env bash
# Peak memory of a render: kelmotra's maximum resident set size (from
# /usr/bin/time -v) for the bundled sample and for a larger generated one,
# each rendered as long as the sample itself (the largest output buffer a
# note of that sample gets), first with the analysis (no FRQ file yet), then
# with the FRQ file in place. Every figure must stay below
# 8 x the sample file's size + 32 MB.
#
#   bash bench/memory.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build-bench (configured and built in Release when it
# lacks kelmotra or make_voice); SECONDS is the length of the generated
# sample (default 60, the most make_voice writes). Exits 1 when a figure is
# over its limit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
seconds=${2:-60}
case $build in /*) ;; *) build=$PWD/$build ;; esac

if [ ! -x /usr/bin/time ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "memory: /usr/bin/time is needed (apt-get install time, as root)" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null 2>&1 ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null; }
fi

if [ ! -x "$build/kelmotra" ] || [ ! -x "$build/tools/make_voice" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kelmotra make_voice -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
exe=$build/kelmotra

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/data/voice.wav" "$work/voice.wav"
"$build/tools/make_voice" "$work/long.wav" "$seconds" >/dev/null

# peak_kb WAV FLAGS: the maximum resident set size in KiB of one render of a
# note as long as the sample (length argument 0).
peak_kb() {
  local wav=$1 flags=$2
  /usr/bin/time -v -o "$work/time.txt" \
    "$exe" "$wav" "$work/out.wav" A4 100 "$flags" 0 0 0 0 100 0 >/dev/null 2>&1 || {
    echo "memory: kelmotra failed on $wav" >&2
    exit 1
  }
  sed -n 's/.*Maximum resident set size (kbytes): *//p' "$work/time.txt"
}

status=0
printf '%-12s %10s %14s %14s %12s\n' sample "file MB" "analysis MB" "with FRQ MB" "limit MB"
for wav in "$work/voice.wav" "$work/long.wav"; do
  size=$(stat -c %s "$wav")
  rm -f "${wav%.wav}_wav.frq"
  first=$(peak_kb "$wav" n)   # no FRQ file: analyses and writes it
  again=$(peak_kb "$wav" n)   # the FRQ file is there now
  limit_kb=$(( (8 * size) / 1024 + 32 * 1024 ))
  mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
  printf '%-12s %10s %14s %14s %12s\n' "$(basename "$wav")" "$(mb $((size / 1024)))" \
    "$(mb "$first")" "$(mb "$again")" "$(mb "$limit_kb")"
  for kb in "$first" "$again"; do
    if [ "$kb" -ge "$limit_kb" ]; then
      echo "memory: $(basename "$wav") peaked at $(mb "$kb") MB, over the limit" >&2
      status=1
    fi
  done
done
exit $status
