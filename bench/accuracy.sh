#!/usr/bin/env bash
# Accuracy of the pitch analysis, both methods:
#
#  1. synthetic vowels of known pitch, 110 to 660 Hz: steady, vibrato of
#     +-50 cents at 5.5 Hz, a glide of an octave, white noise at 20 dB SNR,
#     a breathy decaying tail (bench/pitch_accuracy.cpp);
#  2. every sample of a real voice bank against praat's To Pitch (ac), with
#     the band one octave either side of the bank's 225 Hz;
#  3. every pitched sample of that bank rendered by kelmotra at its own
#     pitch, 5 semitones up and 7 down (oto offset, consonant and cutoff, a
#     600 ms note), the note's median pitch measured by praat against the
#     target.
#
# Targets (robust tracker): no sample whose median error exceeds 50 cents,
# gross errors (beyond 300 cents) on at most 1 % of the steps both call
# voiced, voicing agreement at least 90 %, every render within 50 cents.
#
#   bash bench/accuracy.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build-bench (configured with -DKELMOTRA_BENCH=ON and
# built when needed). The bank is $KELMOTRA_VOICES, by default
# ../shared/voices/neko beside the source tree (parts 2 and 3 are skipped,
# with a message, when it is absent). praat and sox are installed with
# apt-get when missing (as root). Exit status 1 when a robust target is missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
case $build in /*) ;; *) build=$PWD/$build ;; esac
voices=${KELMOTRA_VOICES:-$root/../shared/voices/neko}

if ! command -v praat >/dev/null; then
  if [ "$(id -u)" -ne 0 ]; then echo "accuracy.sh: praat is missing (apt-get install praat)" >&2; exit 1; fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq praat >/dev/null
fi
if [ ! -x "$build/bench/pitch_accuracy" ] || [ ! -x "$build/kelmotra" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMOTRA_BENCH=ON >/dev/null
  cmake --build "$build" --target kelmotra pitch_accuracy -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
acc=$build/bench/pitch_accuracy
exe=$build/kelmotra
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

echo "== synthetic vowels (robust tracker)"
"$acc" synthetic || failed=1
echo "   the classic analysis on the same vowels:"
"$acc" synthetic --method classic | tail -2 | sed 's/^/   /' || true

if [ ! -d "$voices" ]; then
  echo "accuracy.sh: no voice bank at $voices (set KELMOTRA_VOICES); real samples skipped" >&2
  exit "$failed"
fi

# praat_loop > SCRIPT <<'EOF' BODY EOF: a praat script that runs BODY for
# every line of the text file given as its argument, the line in line$.
praat_loop() {
  printf '%s\n' 'form Lines' '  sentence list' 'endform' 'strings = Read Strings from raw text file: list$' \
    'n = Get number of strings' 'for f to n' '  selectObject: strings' '  line$ = Get string: f'
  cat
  echo endfor
}

# Reference tracks: praat's pitch at every step of the map (256 frames at
# 44.1 or 48 kHz; the step of the analysis window at other rates), 0 where it
# finds none.
praat_loop > "$work/ref.praat" <<'EOF'
  path$ = line$
  snd = Read from file: path$
  dur = Get total duration
  rate = Get sampling frequency
  step = 512 / rate
  if rate < 15000
    step = 64 / rate
  elsif rate < 30000
    step = 128 / rate
  elsif rate < 60000
    step = 256 / rate
  endif
  pitch = To Pitch (ac): step, 112.5, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 450
  line$ = path$
  for i from 0 to floor(dur / step) - 1
    v = Get value at time: i * step, "Hertz", "linear"
    if v = undefined
      v = 0
    endif
    line$ = line$ + " " + fixed$(v, 3)
  endfor
  appendInfoLine: line$
  removeObject: snd, pitch
EOF
mkdir -p "$work/robust" "$work/classic"
cp "$voices"/*.wav "$work/robust/"
cp "$voices"/*.wav "$work/classic/"
ls "$work"/robust/*.wav > "$work/list.txt"
praat --run "$work/ref.praat" "$work/list.txt" > "$work/ref.txt"

echo
echo "== $(wc -l < "$work/list.txt") samples of $(basename "$voices") against praat (robust tracker)"
"$acc" compare "$work/ref.txt" > "$work/compare.txt" || failed=1
awk 'NR == 1 || (NF == 5 && ($3 > 50 || $3 < -50 || $4 > 1 || $5 < 90))' "$work/compare.txt"
tail -2 "$work/compare.txt"
echo "   the classic analysis on the same samples:"
"$acc" compare "$work/ref.txt" --method classic | tail -2 | sed 's/^/   /' || true

# Renders: the pitched samples (see pitch_accuracy pitched) at their own
# median pitch, +5 and -7 semitones.
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
"$acc" pitched "$work/ref.txt" "$voices/oto.ini" > "$work/pitched.txt"
praat_loop > "$work/measure.praat" <<'EOF'
  path$ = extractWord$(line$, "")
  target = extractNumber(line$, " ")
  start = extractNumber(line$, " " + fixed$(target, 3) + " ")
  snd = Read from file: path$
  dur = Get total duration
  pitch = To Pitch (ac): 0, target / 2, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, target * 2
  m = Get quantile: start, dur - 0.03, 0.5, "Hertz"
  appendInfoLine: path$, " ", fixed$(target, 3), " ", fixed$(m, 3)
  removeObject: snd, pitch
EOF
for method in robust classic; do
  : > "$work/renders_$method.txt"
  while read -r name own offset consonant cutoff; do
    for shift in 0 5 -7; do
      target=$(awk -v f="$own" -v s="$shift" 'BEGIN { printf "%.3f", f * 2 ^ (s / 12) }')
      out=$work/$method/${name%.wav}_$shift.out.wav
      KELMOTRA_ANALYSIS=$method LC_ALL=C "$exe" "$work/$method/$name" "$out" "$target" 100 "" "$offset" 600 \
        "$consonant" "$cutoff" 100 0 >/dev/null 2>&1 || { echo "render failed: $name $shift" >&2; continue; }
      echo "$out $target $(awk -v c="$consonant" 'BEGIN { printf "%.3f", c / 1000 + 0.03 }')" >> "$work/renders_$method.txt"
    done
  done < "$work/pitched.txt"
  praat --run "$work/measure.praat" "$work/renders_$method.txt" > "$work/measured_$method.txt"
  cents=$(awk '{ c = ($3 > 0) ? 1200 * log($3 / $2) / log(2) : 99999; print (c < 0) ? -c : c }' "$work/measured_$method.txt")
  summary="$(awk '$1 <= 50' <<< "$cents" | wc -l) of $(wc -l < "$work/measured_$method.txt") renders within 50 cents,\
 median error $(median <<< "$cents") cents"
  if [ "$method" = robust ]; then
    echo
    echo "== renders of $(wc -l < "$work/pitched.txt") pitched samples at their own pitch, +5 and -7 semitones"
    echo "robust:  $summary"
    awk '{ c = ($3 > 0) ? 1200 * log($3 / $2) / log(2) : 99999; if (c > 50 || c < -50) print "  off: " $0 }' \
      "$work/measured_robust.txt"
    awk '{ c = ($3 > 0) ? 1200 * log($3 / $2) / log(2) : 99999; if (c > 50 || c < -50) bad = 1 } END { exit bad }' \
      "$work/measured_robust.txt" || failed=1
  else
    echo "classic: $summary"
  fi
done
exit "$failed"
