#!/usr/bin/env bash
# Whole-process timing of the pitch analysis.
#
# 1. kelmotra-frq analyse --force of a 2 s 44.1 kHz mono sample (made by
#    make_voice), with the robust tracker and with the classic analysis,
#    against praat's To Pitch (ac) (standard settings) on the same file:
#    runs alternate between the three, and the median of the per-round
#    ratios is reported. Target: the robust tracker no slower than praat.
# 2. kelmotra renders a 1 s note at A4 from the bundled sample with flag G
#    (analyse the sample again and rewrite its FRQ file), and the same note
#    with the FRQ file already in place. The difference of the two is what
#    the analysis costs a run.
#
#   bash bench/analysis.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-bench (configured and built in Release when it
# has no kelmotra yet); RUNS defaults to 20. praat is installed with apt-get
# when missing (as root); without it part 1 is skipped with a message.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-20}
case $build in /*) ;; *) build=$PWD/$build ;; esac

if [ ! -x "$build/kelmotra" ] || [ ! -x "$build/tools/kelmotra-frq" ] || [ ! -x "$build/tools/make_voice" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kelmotra kelmotra-frq make_voice -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
exe=$build/kelmotra
if ! command -v praat >/dev/null && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq praat >/dev/null || true
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/data/voice.wav" "$work/in.wav"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if command -v praat >/dev/null; then
  "$build/tools/make_voice" "$work/two.wav" 2 220 44100 >/dev/null
  printf 'form f\n  sentence file\nendform\nsnd = Read from file: file$\n%s\n' \
    'pitch = To Pitch (ac): 0, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600' > "$work/pitch.praat"
  frq=$build/tools/kelmotra-frq
  now() { date +%s%N; }
  for _ in $(seq "$runs"); do
    t0=$(now); "$frq" analyse --force "$work/two.wav" >/dev/null 2>&1
    t1=$(now); praat --run "$work/pitch.praat" "$work/two.wav" >/dev/null 2>&1
    t2=$(now); KELMOTRA_ANALYSIS=classic "$frq" analyse --force "$work/two.wav" >/dev/null 2>&1
    t3=$(now)
    echo "$(( (t1 - t0) / 1000 )) $(( (t2 - t1) / 1000 )) $(( (t3 - t2) / 1000 ))"
  done > "$work/rounds.txt"
  robust=$(awk '{ print $1 / 1000 }' "$work/rounds.txt" | median)
  praat_ms=$(awk '{ print $2 / 1000 }' "$work/rounds.txt" | median)
  classic=$(awk '{ print $3 / 1000 }' "$work/rounds.txt" | median)
  echo "analysis of a 2 s 44.1 kHz mono sample, whole process, median of $runs alternating rounds:"
  printf '  kelmotra-frq analyse --force (robust)    %8.1f ms   ratio to praat %.3f\n' "$robust" \
    "$(awk '{ print $1 / $2 }' "$work/rounds.txt" | median)"
  printf '  kelmotra-frq analyse --force (classic)   %8.1f ms   ratio to praat %.3f\n' "$classic" \
    "$(awk '{ print $3 / $2 }' "$work/rounds.txt" | median)"
  printf '  praat To Pitch (ac), standard settings   %8.1f ms\n' "$praat_ms"
  echo
else
  echo "analysis.sh: praat is not installed (apt-get install praat); the comparison is skipped" >&2
fi

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
