#!/usr/bin/env bash
# Whole-process timing of the standard note: kelmotra renders a 2.0 s note
# at A4 from the bundled sample (220 Hz, 1.6 s, so the note is stretched),
# with the sample's FRQ file already in place. Target: under 15 ms a run.
#
#   bash bench/note.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-bench (configured and built in Release when it
# has no kelmotra yet); RUNS defaults to 50. Uses hyperfine when it is
# installed, otherwise a loop timed with date +%s%N (which also counts the
# start of the date processes). The banner run (no arguments) is timed too:
# it is the floor that process start-up sets on this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-50}
case $build in /*) ;; *) build=$PWD/$build ;; esac

if [ ! -x "$build/kelmotra" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kelmotra -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
exe=$build/kelmotra

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/data/voice.wav" "$work/voice.wav"
cd "$work"
# The first run analyses the sample and leaves voice_wav.frq beside it.
"$exe" voice.wav out.wav A4 100 "" 0 2000 0 0 100 0 >/dev/null 2>&1
[ -f voice_wav.frq ] || { echo "note.sh: no FRQ file was written" >&2; exit 1; }

note=("$exe" voice.wav out.wav A4 100 "" 0 2000 0 0 100 0)
echo "standard note: ${note[*]}"
if command -v hyperfine >/dev/null 2>&1; then
  hyperfine -N --warmup 5 --runs "$runs" --output=null \
    "$exe voice.wav out.wav A4 100 '' 0 2000 0 0 100 0" "$exe"
else
  # time_runs LABEL COMMAND...: mean, median and best wall time in ms.
  time_runs() {
    local label=$1 start end
    shift
    local times=()
    for _ in $(seq 5); do "$@" >/dev/null 2>&1; done
    for _ in $(seq "$runs"); do
      start=$(date +%s%N)
      "$@" >/dev/null 2>&1
      end=$(date +%s%N)
      times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v runs="$runs" -v label="$label" '
      { t[NR] = $1; sum += $1 }
      END { printf "%s, %d runs: mean %.2f ms, median %.2f ms, best %.2f ms\n", label,
            runs, sum / NR / 1000, t[int((NR + 1) / 2)] / 1000, t[1] / 1000 }'
  }
  time_runs "standard note" "${note[@]}"
  time_runs "banner only" "$exe"
fi
echo "target: under 15 ms"
