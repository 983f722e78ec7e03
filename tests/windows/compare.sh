#!/usr/bin/env bash
# Renders a matrix of notes with the Linux build and with the Windows editions
# (under Wine) and compares every output WAV and every FRQ file the analysis
# writes, byte for byte. They must be identical. The matrix holds generated
# samples of several rates and depths, and the real voice samples of
# data/neko rendered at their oto.ini settings with each pitch analysis (the
# default one and KELMOTRA_ANALYSIS=classic).
#
#   bash tests/windows/compare.sh --x64 build-win64/kelmotra.exe [--x86 build-win32/kelmotra.exe]
#        [--i686 build-i686/kelmotra] [--linux build-check/release/kelmotra] [--keep DIR]
#
# --i686 is the i686 Linux build run under qemu-i386: it computes like the x86
# edition and stands in for it where Wine cannot run 32-bit code. The Linux
# build (program and tools) defaults to build-check/release and is built there
# when missing. Each edition renders in a folder of its own with its own
# copies of the samples, so that the analysis runs once per edition and
# writes its own FRQ files.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux_dir="$root/build-check/release"
linux_exe=""
x64_exe=""
x86_exe=""
i686_exe=""
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --linux) linux_exe=$2; shift 2 ;;
    --x64) x64_exe=$2; shift 2 ;;
    --x86) x86_exe=$2; shift 2 ;;
    --i686) i686_exe=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: $0 --x64 EXE [--x86 EXE] [--i686 EXE] [--linux EXE] [--keep DIR]" >&2; exit 2 ;;
  esac
done
if [ -z "$x64_exe" ] && [ -z "$x86_exe" ] && [ -z "$i686_exe" ]; then
  echo "compare.sh: no edition to compare given" >&2
  exit 2
fi
if [ -z "$linux_exe" ]; then
  if [ ! -x "$linux_dir/kelmotra" ] || [ ! -x "$linux_dir/tools/make_voice" ] || [ ! -x "$linux_dir/tools/kelmotra-bend" ]; then
    echo "== Building the Linux reference in ${linux_dir#$root/}"
    cmake -S "$root" -B "$linux_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
      cmake --build "$linux_dir" -j"$(nproc 2>/dev/null || echo 2)" --target kelmotra make_voice kelmotra-bend >/dev/null ||
      { echo "compare.sh: the Linux build failed" >&2; exit 1; }
  fi
  linux_exe="$linux_dir/kelmotra"
fi
abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
linux_exe=$(abs "$linux_exe")
[ -n "$x64_exe" ] && x64_exe=$(abs "$x64_exe")
[ -n "$x86_exe" ] && x86_exe=$(abs "$x86_exe")
[ -n "$i686_exe" ] && i686_exe=$(abs "$i686_exe")
tools_dir=$(dirname "$linux_exe")/tools
make_voice="$tools_dir/make_voice"
bend_tool="$tools_dir/kelmotra-bend"

work=${keep:-$(mktemp -d)}
mkdir -p "$work"
[ -z "$keep" ] && trap 'rm -rf "$work"' EXIT

# --- Samples: several rates, depths and channel counts ---------------------------
samples="$work/samples"
mkdir -p "$samples"
cp "$root/data/voice.wav" "$samples/voice.wav"
"$make_voice" "$samples/m22k.wav" 1.2 180 22050 >/dev/null
"$make_voice" "$samples/m48k.wav" 1.0 330 48000 >/dev/null
"$make_voice" "$samples/m44k.wav" 1.5 247 44100 >/dev/null
# Other depths and a stereo file from the 44.1 kHz one (Python's standard
# library only).
python3 - "$samples" <<'PY'
import struct, sys, wave
d = sys.argv[1]
with wave.open(d + "/m44k.wav", "rb") as w:
    rate = w.getframerate()
    s = list(struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes())))

def write(name, tag, channels, bits, frames):
    data = b"".join(frames)
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, tag, channels, rate,
                      rate * channels * bits // 8, channels * bits // 8, bits)
    body = b"WAVE" + fmt + struct.pack("<4sI", b"data", len(data)) + data
    with open(d + "/" + name, "wb") as f:
        f.write(struct.pack("<4sI", b"RIFF", len(body)) + body)

write("u8.wav", 1, 1, 8, [struct.pack("<B", (v >> 8) + 128) for v in s])
write("i24.wav", 1, 1, 24, [struct.pack("<i", v * 256 + (i % 7) * 31)[:3] for i, v in enumerate(s)])
write("i32.wav", 1, 1, 32, [struct.pack("<i", v * 65536 - i % 5) for i, v in enumerate(s)])
write("f32.wav", 3, 1, 32, [struct.pack("<f", v / 32768.0) for v in s])
write("f64.wav", 3, 1, 64, [struct.pack("<d", v / 32767.5 * 0.8) for v in s])
write("st16.wav", 1, 2, 16, [struct.pack("<hh", v, -v // 2) for v in s])
PY
[ $? = 0 ] || { echo "compare.sh: could not write the test samples" >&2; exit 1; }
cp "$samples/m22k.wav" "$samples/ねこ.wav"  # a non-ASCII name reaches the program intact
neko="$work/neko"
mkdir -p "$neko"
cp "$root"/data/neko/*.wav "$neko/"

# --- Bend texts: base64 with runs, and the three extended forms -------------------
ramp=$(seq -200 7 260 | tr '\n' ' ')
wave_vals=$(awk 'BEGIN { for (i = 0; i < 300; i++) printf "%d ", int(80 * sin(i / 9.0) + (i % 17)) }')
enc() { "$bend_tool" encode --form "$1" --order "$2" $3; }
b64_ramp=$(enc base64 0 "$ramp") || exit 1
b64_wave=$(enc base64 0 "$wave_vals") || exit 1
enc1=$(enc enc 1 "$wave_vals") || exit 1
cmp2=$(enc cmp 2 "$ramp") || exit 1
hff3=$(enc hff 3 "$wave_vals") || exit 1
hff0=$(enc hff 0 "$ramp") || exit 1

# --- The matrix -------------------------------------------------------------------
# in out pitch velocity flags offset length consonant cutoff volume modulation tempo bend
notes=(
  "voice.wav|A4|100||0|600|80|0|100|0|!120|AA"
  "voice.wav|C4|150|g-5|20|900|60|-300|90|30|!140|$b64_ramp"
  "voice.wav|G#5+25|50|g+8B40|0|400|120|0|110|0|!96|$b64_wave"
  "voice.wav|D3|100|NP70|10|1200|100|0|100|100|!120|$b64_wave"
  "voice.wav|E4|100|t-30a4|0|700|50|50|100|0|!120*enc1|$enc1"
  "voice.wav|F#4|80/120|R|5|650|90|0|120|-50|!150*cmp2|$cmp2"
  "voice.wav|B3|100|Gi10|0|800|70|0|100|0|!100*hff3|$hff3"
  "m22k.wav|C5|100||0|500|40|0|100|0|!120|$b64_ramp"
  "m22k.wav|A3|100|v120s|0|1000|80|-200|80|0|!80*hff0|$hff0"
  "m48k.wav|A4-30|100|g-12|0|450|60|0|100|0|!120|$b64_wave"
  "m48k.wav|E5|200|B80P50|0|300|30|0|100|0|!200*enc1|$enc1"
  "m44k.wav|G4|0||30|1100|100|100|100|50|!60|$b64_ramp"
  "u8.wav|D4|100||0|500|60|0|100|0|!120|$b64_wave"
  "i24.wav|D#4|100|g3|0|500|60|0|100|0|!120|$b64_ramp"
  "i32.wav|C#4|100||0|520|60|0|100|0|!120*cmp2|$cmp2"
  "f32.wav|F4|100|N|0|480|60|0|100|0|!120|$b64_wave"
  "f64.wav|A#3|100||0|560|60|0|100|0|!120|AA#20#"
  "st16.wav|C4|100|B20|0|600|60|0|100|0|!120|$b64_ramp"
  "ねこ.wav|B4|100||0|400|60|0|100|0|!120|$b64_wave"
  "voice.wav|A4|100|n|0|300|40|0|100|0|!120|AA"
)

# The real voices as a host renders them: offset, consonant and cutoff from
# each sample's oto.ini line (file=alias,offset,consonant,cutoff,...).
neko_notes=()
while IFS='=,' read -r file _ off cons cut _; do
  [ -n "$file" ] || continue
  neko_notes+=("$file|C4|100||${off:-0}|600|$cons|$cut|100|0|!120|$b64_wave")
  neko_notes+=("$file|G#4+10|80|g-4|${off:-0}|1100|$cons|$cut|90|40|!150*hff3|$hff3")
done < <(tr -d '\r' <"$root/data/neko/oto.ini")

# render <dir> <samples> <notes array> <runner...>: renders every note into
# <dir> in a fresh copy of the samples (no FRQ files, so the first note of
# each sample analyses it).
render() {
  local dir=$1 from=$2
  local -n list=$3
  shift 3
  rm -rf "$dir"
  cp -r "$from" "$dir"
  local i=0 note
  for note in "${list[@]}"; do
    IFS='|' read -r in pitch vel flags off len cons cut vol mod tempo bend <<<"$note"
    (cd "$dir" && "$@" "$in" "out$i.wav" "$pitch" "$vel" "$flags" "$off" "$len" "$cons" "$cut" "$vol" \
      "$mod" "$tempo" "$bend" </dev/null >"log$i.txt" 2>&1)
    i=$((i + 1))
  done
}

# render_all <name> <runner...>: the matrix, a note to the standard output
# (binary mode on Windows), and the real voices with each analysis, in
# $work/<name>/.
render_all() {
  local name=$1; shift
  local dir="$work/$name"
  rm -rf "$dir"
  mkdir -p "$dir"
  render "$dir/matrix" "$samples" notes env -u KELMOTRA_ANALYSIS "$@"
  (cd "$dir/matrix" && env -u KELMOTRA_ANALYSIS "$@" voice.wav - C4 100 "" 0 400 60 0 100 0 '!120' "$b64_wave" \
    </dev/null >"stdout.wav" 2>/dev/null)
  render "$dir/neko-default" "$neko" neko_notes env -u KELMOTRA_ANALYSIS "$@"
  render "$dir/neko-classic" "$neko" neko_notes env KELMOTRA_ANALYSIS=classic "$@"
}

echo "compare.sh: ${#notes[@]} notes, one to the standard output and ${#neko_notes[@]} of real voices with each analysis, in $work"
render_all linux "$linux_exe"
editions=()
start_wine() {
  local loader=$1 prefix=$2
  WINEPREFIX=$prefix "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -w >/dev/null 2>&1
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix "$loader" cmd /c exit </dev/null >/dev/null 2>&1
}
if [ -n "$x64_exe" ]; then
  p64="$(dirname "$x64_exe")/wineprefix"
  start_wine /usr/lib/wine/wine64 "$p64"
  render_all x64 env WINEPREFIX="$p64" WINEDEBUG=-all LANG=C.UTF-8 /usr/lib/wine/wine64 "$x64_exe"
  WINEPREFIX=$p64 /usr/lib/wine/wineserver -k >/dev/null 2>&1
  editions+=(x64)
fi
if [ -n "$x86_exe" ]; then
  p86="$(dirname "$x86_exe")/wineprefix"
  start_wine /usr/lib/wine/wine "$p86"
  render_all x86 env WINEPREFIX="$p86" WINEDEBUG=-all LANG=C.UTF-8 /usr/lib/wine/wine "$x86_exe"
  WINEPREFIX=$p86 /usr/lib/wine/wineserver -k >/dev/null 2>&1
  editions+=(x86)
fi
if [ -n "$i686_exe" ]; then
  render_all i686 qemu-i386 "$i686_exe"
  editions+=(i686)
fi

# --- Compare --------------------------------------------------------------------
failed=0
compared=0
# Every output WAV and FRQ file, as a path below the edition's folder.
written() { (cd "$1" && find . -type f \( -name 'out*.wav' -o -name stdout.wav -o -name '*.frq' \) | sort); }
files=$(written "$work/linux")
count() { echo "$files" | grep -c "^\./$1/$2\$"; }
nwav=$(count matrix 'out[0-9]*\.wav')
nfrq=$(count matrix '[^/]*\.frq')
if [ "$nwav" -lt $(( ${#notes[@]} - 2 )) ] || [ "$nfrq" -lt 8 ]; then
  echo "FAILED: the Linux build wrote only $nwav of ${#notes[@]} notes and $nfrq FRQ files" >&2
  failed=1
fi
for analysis in default classic; do
  n=$(count "neko-$analysis" 'out[0-9]*\.wav')
  m=$(count "neko-$analysis" '[^/]*\.frq')
  if [ "$n" != ${#neko_notes[@]} ] || [ "$m" != $(( ${#neko_notes[@]} / 2 )) ]; then
    echo "FAILED: the Linux build rendered $n of ${#neko_notes[@]} real-voice notes and $m FRQ maps with the $analysis analysis" >&2
    failed=1
  fi
done
for ed in "${editions[@]}"; do
  for f in $files; do
    compared=$((compared + 1))
    if [ ! -f "$work/$ed/$f" ]; then
      echo "FAILED: $ed wrote no $f" >&2
      failed=1
    elif ! cmp -s "$work/linux/$f" "$work/$ed/$f"; then
      echo "FAILED: $f differs between linux and $ed: $(cmp "$work/linux/$f" "$work/$ed/$f" 2>&1 | head -1)" >&2
      failed=1
    fi
  done
  extra=$(written "$work/$ed" | comm -13 <(echo "$files") -)
  if [ -n "$extra" ]; then
    echo "FAILED: $ed wrote files linux did not: $extra" >&2
    failed=1
  fi
done
if [ $failed = 0 ]; then
  echo "compare.sh: $compared files identical (${editions[*]} against linux: $nwav notes, stdout, $nfrq FRQ files;" \
    "${#neko_notes[@]} real-voice notes and $(( ${#neko_notes[@]} / 2 )) FRQ maps with each analysis)"
  echo "$compared passed, 0 failed"
else
  echo "compare.sh: differences found; logs and files in $work" >&2
  [ -z "$keep" ] && trap - EXIT
fi
exit $failed
