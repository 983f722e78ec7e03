#!/usr/bin/env bash
# Whole-process timing of the pitch analysis: kelmotra renders a 1 s note at
# A4 from the bundled sample with flag G (analyse the sample again and rewrite
# its FRQ file), and the same note with the FRQ file already in place. The
# difference of the two is what the analysis costs a run.
#
#   bash bench/analysis.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-bench (configured and built in Release when it
# has no kelmotra yet); RUNS defaults to 20.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-20}

if [ ! -x "$build/kelmotra" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kelmotra -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
exe=$build/kelmotra

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/data/voice.wav" "$work/in.wav"

# time_runs FLAGS: prints "wall_mean wall_best cpu_mean" in milliseconds over
# $runs runs (cpu: user + system time of the process, which a busy machine
# inflates less than the wall clock).
time_runs() {
  local flags=$1 line
  for _ in $(seq "$runs"); do
    line=$( { TIMEFORMAT='%R %U %S'; time "$exe" "$work/in.wav" "$work/out.wav" A4 100 "$flags" 0 1000 0 0 100 0 \
              >/dev/null 2>&1; } 2>&1 )
    echo "$line"
  done | awk '{ w = $1 * 1000; c = ($2 + $3) * 1000; tw += w; tc += c; if (NR == 1 || w < bw) bw = w }
              END { printf "%.1f %.1f %.1f\n", tw / NR, bw, tc / NR }'
}

# One run first, so that the FRQ file exists and the file cache is warm.
"$exe" "$work/in.wav" "$work/out.wav" A4 100 G 0 1000 0 0 100 0 >/dev/null 2>&1
if [ ! -f "$work/in_wav.frq" ]; then
  echo "analysis.sh: kelmotra wrote no FRQ file; is the analysis built in?" >&2
  exit 1
fi

read -r g_mean g_best g_cpu < <(time_runs G)
read -r l_mean l_best l_cpu < <(time_runs "")
echo "kelmotra in.wav out.wav A4 100 FLAGS 0 1000 0 0 100 0   ($runs runs, data/voice.wav: 1.6 s, 44100 Hz, 16-bit mono)"
printf '  flag G (analyse, write FRQ)   wall mean %7.1f ms  best %7.1f ms   cpu mean %7.1f ms\n' "$g_mean" "$g_best" "$g_cpu"
printf '  FRQ file present               wall mean %7.1f ms  best %7.1f ms   cpu mean %7.1f ms\n' "$l_mean" "$l_best" "$l_cpu"
awk -v a="$g_mean" -v b="$l_mean" -v c="$g_best" -v d="$l_best" -v e="$g_cpu" -v f="$l_cpu" \
  'BEGIN { printf "  analysis share                 wall mean %7.1f ms  best %7.1f ms   cpu mean %7.1f ms\n", a - b, c - d, e - f }'
