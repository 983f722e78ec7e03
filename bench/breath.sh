#!/usr/bin/env bash
# Breath benchmark: how much of the voice's aperiodic part a stretched note
# keeps, with and without flag B100.
#
#   bash bench/breath.sh [BUILD_DIR]
#
# Notes: pitched vowels of the neko voicebank (KELMOTRA_NEKO, default
# ../shared/voices/neko beside the source tree; without it the four samples in
# data/neko) and synthetic voiced-plus-noise vowels of known HNR (5, 10, 20
# dB, from bench/breath_tool), each stretched 1.5x, 3x and 5x at +5 and -7
# semitones from the sample's own median pitch. Per note it reports, for the
# plain note and for B100:
#   dHNR   praat's To Harmonicity (cc) mean over the stretched part of the
#          note minus that of the input region, dB
#   cents  |median pitch (praat To Pitch (ac)) - target|, cents
#   env    envelope distance: harmonic levels of the note against the input's
#          envelope, dB (breath_tool envelope)
# and the medians at the end; then the speed of B100 against the plain note.
# KELMOTRA_BREATH_SAMPLES picks other neko samples (16-bit mono, 44.1 kHz),
# KELMOTRA_BREATH_PAIRS the number of timed pairs (default 40).
# Every note is rendered from a map made of praat's pitch (150-450 Hz: the
# voices measured here sing near 225 Hz), so that the figures measure the
# resynthesis, not the built-in analysis. Needs praat (apt-get install praat).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
case $build in /*) ;; *) build=$PWD/$build ;; esac

if ! command -v praat >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq praat >/dev/null
  else
    echo "breath.sh: praat is needed (apt-get install praat)" >&2
    exit 1
  fi
fi
if [ ! -x "$build/kelmotra" ] || [ ! -x "$build/bench/breath_tool" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMOTRA_BENCH=ON >/dev/null
  cmake --build "$build" --target kelmotra breath_tool -j2 >/dev/null
fi
exe=$build/kelmotra
tool=$build/bench/breath_tool

neko=${KELMOTRA_NEKO:-$root/../shared/voices/neko}
samples=(${KELMOTRA_BREATH_SAMPLES:-a i u e o ka sa ta na ma ra ha})
if [ ! -f "$neko/oto.ini" ]; then
  echo "breath.sh: no voicebank at $neko (set KELMOTRA_NEKO); using the samples in data/neko" >&2
  neko=$root/data/neko
  samples=(a ka sa ri)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/breath.XXXXXX")
trap 'rm -rf "$work"' EXIT

# measure FILE FROM TO FMIN FMAX: "HNR_dB median_Hz" of FILE between FROM and
# TO seconds.
cat > "$work/measure.praat" <<'EOF'
form Measure
  sentence file
  real t0
  real t1
  real fmin
  real fmax
endform
s = Read from file: file$
h = To Harmonicity (cc): 0.01, 75, 0.1, 1.0
hnr = Get mean: t0, t1
selectObject: s
p = To Pitch (ac): 0, fmin, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, fmax
f = Get quantile: t0, t1, 0.5, "Hertz"
writeInfoLine: fixed$(hnr, 3), " ", fixed$(f, 4)
EOF
measure() { praat --run "$work/measure.praat" "$@"; }

# map FILE: the file's pitch every 256 samples (0 where unvoiced), one value
# a line, for the frequency map the notes are rendered from.
cat > "$work/map.praat" <<'EOF'
form Map
  sentence file
endform
s = Read from file: file$
n = Get number of samples
p = To Pitch (ac): 0.0025, 150, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 450
writeInfo: ""
for i from 0 to floor((n - 1) / 256)
  f = Get value at time: i * 256 / 44100, "Hertz", "linear"
  if f = undefined
    f = 0
  endif
  appendInfoLine: fixed$(f, 4)
endfor
EOF
# Every note is rendered from a map made of praat's pitch, so that the figures
# measure the resynthesis, not the built-in analysis.
make_map() { praat --run "$work/map.praat" "$1" > "${1%.wav}.pitch" && "$tool" frq "$1" "${1%.wav}.pitch"; }

# Samples: name offset_ms consonant_ms cutoff_ms (cutoff measured from the end).
: > "$work/list"
for s in "${samples[@]}"; do
  line=$(sed 's/^\xef\xbb\xbf//' "$neko/oto.ini" | tr -d '\r' | grep -a "^$s\.wav=" | head -n 1 || true)
  [ -n "$line" ] || { echo "breath.sh: $s.wav has no oto line" >&2; continue; }
  IFS=, read -r _ off cons cut _ <<<"${line#*=}"
  cp "$neko/$s.wav" "$work/$s.wav"
  make_map "$work/$s.wav"
  echo "$s ${off:-0} ${cons:-0} ${cut:-0}" >> "$work/list"
done
for hnr in 5 10 20; do
  "$tool" synth "$work/syn$hnr.wav" 220 "$hnr" 1.2
  make_map "$work/syn$hnr.wav"
  echo "syn$hnr 0 0 0" >> "$work/list"
done

printf '%-6s %5s %4s %7s | %7s %7s | %6s %6s | %5s %5s\n' note stretch semi HNR_in \
  dHNR dHNR_B cents cents_B env env_B
while read -r name off cons cut; do
  wav=$work/$name.wav
  dur=$(awk -v n="$(stat -c %s "$wav")" 'BEGIN { printf "%.6f", (n - 44) / 88200 }')
  # The stretched part of the sample starts at a (s) and lasts len_ms; what
  # is measured is its longest voiced stretch (by the map), trimmed by 30 ms
  # at both ends: in0..in1 in the sample, which the note plays at
  # cons + (t - a) * stretch.
  read -r a in0 in1 len_ms <<<"$(awk -v o="$off" -v c="$cons" -v u="$cut" -v d="$dur" '
    { t = (NR - 1) * 256 / 44100; v[NR] = ($1 > 0 && t >= a && t <= b); tt[NR] = t }
    BEGIN { a = (o + c) / 1000; b = d - u / 1000 }
    END { for (i = 1; i <= NR; i++) { if (v[i]) { if (!run) s = tt[i]; run++; if (run > best) { best = run; bs = s; be = tt[i] } } else run = 0 }
          if (!best) { bs = a; be = b }
          printf "%.4f %.4f %.4f %.3f", a, bs + 0.03, be - 0.03, (b - a) * 1000 }' "${wav%.wav}.pitch")"
  read -r hnr_in f_in <<<"$(measure "$wav" "$in0" "$in1" 150 450)"
  for stretch in 1.5 3 5; do
    for semi in 5 -7; do
      read -r length target o0 o1 <<<"$(awk -v c="$cons" -v l="$len_ms" -v s="$stretch" -v f="$f_in" -v k="$semi" \
        -v a="$a" -v i0="$in0" -v i1="$in1" 'BEGIN { printf "%.3f %.4f %.4f %.4f", c + s * l, f * 2 ^ (k / 12),
                                                    c / 1000 + (i0 - a) * s, c / 1000 + (i1 - a) * s }')"
      row=()
      for flags in "" B100; do
        out=$work/out_$name.wav
        "$exe" "$wav" "$out" "$target" 100 "$flags" "$off" "$length" "$cons" "$cut" 100 0 >/dev/null 2>&1
        read -r hnr_out f_out <<<"$(measure "$out" "$o0" "$o1" "$(awk -v t="$target" 'BEGIN { print t / 1.5 }')" \
                                   "$(awk -v t="$target" 'BEGIN { print t * 1.5 }')")"
        read -r env _ <<<"$("$tool" envelope "$wav" "$in0" "$in1" "$out" "$o0" "$o1")"
        row+=("$(awk -v a="$hnr_out" -v b="$hnr_in" -v f="$f_out" -v t="$target" -v e="$env" \
          'BEGIN { c = 1200 * log(f / t) / log(2); if (c < 0) c = -c; printf "%.2f %.2f %.2f", a - b, c, e }')")
      done
      read -r d0 c0 e0 <<<"${row[0]}"
      read -r d1 c1 e1 <<<"${row[1]}"
      printf '%-6s %5s %4s %7.2f | %7.2f %7.2f | %6.2f %6.2f | %5.2f %5.2f\n' "$name" "$stretch" "$semi" \
        "$hnr_in" "$d0" "$d1" "$c0" "$c1" "$e0" "$e1" | tee -a "$work/rows"
    done
  done
done < "$work/list"

# Medians over all notes, and the notes B100 leaves more than 5 dB from the
# input (with the plain note's figure beside them).
summary() {
  local col=$1 label=$2
  awk -v c="$col" '{ print $c }' "$work/rows" | sort -g |
    awk -v l="$label" '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                        printf "%-38s %7.2f\n", l, m }'
}
echo
summary 6 "median dHNR, plain note (dB)"
summary 7 "median dHNR, B100 (dB)"
awk '{ d = $7 < 0 ? -$7 : $7; if (d > m) m = d } END { printf "%-38s %7.2f\n", "largest |dHNR|, B100 (dB)", m }' "$work/rows"
awk '$7 > 5 || $7 < -5 { printf "  beyond 5 dB: %s %sx %s, B100 %s, plain %s\n", $1, $2, $3, $7, $6 }' "$work/rows"
summary 9 "median pitch error, plain (cents)"
summary 10 "median pitch error, B100 (cents)"
summary 12 "median envelope distance, plain (dB)"
summary 13 "median envelope distance, B100 (dB)"
echo "targets with B100: median |dHNR| <= 3 dB, each note within 5 dB; pitch within 1 cent"
echo "of the plain note's median error; envelope distance at most 0.5 dB above it"

# Speed: the standard note (data/voice.wav, 2.0 s at A4) and the same note
# stretched to 8 s, each timed as alternating whole-process pairs (plain,
# B100) so that a busy machine slows both alike; the median of the pairs'
# ratios. Then the instruction counts of the standard note (callgrind),
# when valgrind is installed. Target: B100 at most 1.3 x the plain note.
echo
cp "$root/data/voice.wav" "$work/voice.wav"
"$exe" "$work/voice.wav" "$work/speed.wav" A4 100 "" 0 2000 0 0 100 0 >/dev/null 2>&1
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for length in 2000 8000; do
  for _ in $(seq "${KELMOTRA_BREATH_PAIRS:-40}"); do
    for flags in "" B100; do
      start=$(date +%s%N)
      "$exe" "$work/voice.wav" "$work/speed.wav" A4 100 "$flags" 0 "$length" 0 0 100 0 >/dev/null 2>&1
      end=$(date +%s%N)
      printf '%d ' $(( (end - start) / 1000 ))
    done
    echo
  done > "$work/pairs"
  printf 'note of %s ms, %s pairs: plain %.2f ms, B100 %.2f ms (medians), median ratio %.3f\n' "$length" \
    "$(wc -l < "$work/pairs")" "$(awk '{ print $1 / 1000 }' "$work/pairs" | median)" \
    "$(awk '{ print $2 / 1000 }' "$work/pairs" | median)" "$(awk '{ print $2 / $1 }' "$work/pairs" | median)"
done
if command -v valgrind >/dev/null 2>&1; then
  for flags in "" B100; do
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$exe" "$work/voice.wav" "$work/speed.wav" \
      A4 100 "$flags" 0 2000 0 0 100 0 2>&1 | awk -v f="${flags:-plain}" '/Collected/ { printf "instructions, standard note, %s: %s\n", f, $4 }'
  done
fi
echo "target: B100 at most 1.3 x the plain note"
