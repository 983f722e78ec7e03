#!/usr/bin/env bash
# Output drift between two builds of kelmotra: renders one matrix of notes
# with each (every input depth and rate, stereo, flags, standard and
# extended bends, real sung syllables from data/neko, a 48 kHz 24-bit stereo
# sample) and reports, per note, the largest sample difference in LSB and the
# share of identical samples. The bar: at most 1 LSB anywhere and at least
# 99.5 % identical samples on every note; notes that neither build renders
# (a 64-bit float sample has no map) count as equal.
#
#   bash bench/output_drift.sh OLD_EXE NEW_EXE [TOOLS_DIR]
#
# TOOLS_DIR holds make_voice and kelmotra-bend (default: tools/ beside
# NEW_EXE). Each build renders in a folder of its own with its own copies of
# the samples, so each analyses them itself; the FRQ files are compared too.
# Exit status 0 when every note meets the bar.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 OLD_EXE NEW_EXE [TOOLS_DIR]" >&2; exit 2; }
abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
old=$(abs "$1")
new=$(abs "$2")
tools=${3:-$(dirname "$new")/tools}
for f in "$old" "$new" "$tools/make_voice" "$tools/kelmotra-bend"; do
  [ -x "$f" ] || { echo "output_drift.sh: $f is missing" >&2; exit 2; }
done
work=$(mktemp -d /tmp/kelmotra-drift.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$root" "$old" "$new" "$tools" "$work" <<'PY'
import os, shutil, struct, subprocess, sys, wave

root, old, new, tools, work = sys.argv[1:6]
src = os.path.join(work, "samples")
os.makedirs(src)

# --- Samples -------------------------------------------------------------------
def make_voice(name, seconds, hz, rate):
    subprocess.run([os.path.join(tools, "make_voice"), os.path.join(src, name), str(seconds),
                    str(hz), str(rate)], check=True, stdout=subprocess.DEVNULL)

shutil.copy(os.path.join(root, "data/voice.wav"), src)
for syllable in ("a", "ka", "sa", "ri"):
    shutil.copy(os.path.join(root, "data/neko", syllable + ".wav"), os.path.join(src, "neko_" + syllable + ".wav"))
make_voice("m22k.wav", 1.2, 180, 22050)
make_voice("m48k.wav", 1.0, 330, 48000)
make_voice("m44k.wav", 1.5, 247, 44100)
make_voice("s48k.wav", 2.0, 220, 48000)

def pcm(name):
    with wave.open(os.path.join(src, name), "rb") as w:
        return w.getframerate(), struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes()))

def write(name, tag, channels, bits, rate, frames):
    data = b"".join(frames)
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, tag, channels, rate,
                      rate * channels * bits // 8, channels * bits // 8, bits)
    body = b"WAVE" + fmt + struct.pack("<4sI", b"data", len(data)) + data
    with open(os.path.join(src, name), "wb") as f:
        f.write(struct.pack("<4sI", b"RIFF", len(body)) + body)

rate, s = pcm("m44k.wav")
depths = {
    "u8.wav": (1, 1, 8, lambda i, v: struct.pack("<B", (v >> 8) + 128)),
    "i24.wav": (1, 1, 24, lambda i, v: struct.pack("<i", v * 256 + (i % 7) * 31)[:3]),
    "i32.wav": (1, 1, 32, lambda i, v: struct.pack("<i", v * 65536 - i % 5)),
    "f32.wav": (3, 1, 32, lambda i, v: struct.pack("<f", v / 32768.0)),
    "f64.wav": (3, 1, 64, lambda i, v: struct.pack("<d", v / 32767.5 * 0.8)),
    "st16.wav": (1, 2, 16, lambda i, v: struct.pack("<hh", v, -v // 2)),
}
for name, (tag, ch, bits, frame) in depths.items():
    write(name, tag, ch, bits, rate, [frame(i, v) for i, v in enumerate(s)])
rate48, s48 = pcm("s48k.wav")
write("st24_48k.wav", 1, 2, 24, rate48,
      [struct.pack("<i", v * 256 + i % 3)[:3] + struct.pack("<i", -v * 128)[:3] for i, v in enumerate(s48)])

# --- Bends ---------------------------------------------------------------------
def encode(form, order, values):
    out = subprocess.run([os.path.join(tools, "kelmotra-bend"), "encode", "--form", form, "--order",
                          str(order)] + [str(v) for v in values], check=True, capture_output=True, text=True)
    return out.stdout.strip()

import math
ramp = list(range(-200, 261, 7))
wobble = [int(80 * math.sin(i / 9.0) + (i % 17)) for i in range(300)]
b64_ramp, b64_wobble = encode("base64", 0, ramp), encode("base64", 0, wobble)
enc1, cmp2 = encode("enc", 1, wobble), encode("cmp", 2, ramp)
hff3, hff0 = encode("hff", 3, wobble), encode("hff", 0, ramp)

# --- The matrix: in, pitch, velocity, flags, offset, length, consonant, cutoff,
# volume, modulation[, tempo, bend] ----------------------------------------------
notes = [
    ("voice.wav", "A4", "100", "", "0", "2000", "0", "0", "100", "0"),
    ("voice.wav", "E4", "100", "n", "0", "1500", "80", "0", "100", "0", "!120", "AA#128#Bk#160#"),
    ("voice.wav", "C4", "150", "g-5", "20", "900", "60", "-300", "90", "30", "!140", b64_ramp),
    ("voice.wav", "G#5+25", "50", "g+8B40", "0", "400", "120", "0", "110", "0", "!96", b64_wobble),
    ("voice.wav", "D3", "100", "NP70", "10", "1200", "100", "0", "100", "100", "!120", b64_wobble),
    ("voice.wav", "E4", "100", "t-30a4", "0", "700", "50", "50", "100", "0", "!120*enc1", enc1),
    ("voice.wav", "F#4", "80/120", "R", "5", "650", "90", "0", "120", "-50", "!150*cmp2", cmp2),
    ("voice.wav", "B3", "100", "Gi10", "0", "800", "70", "0", "100", "0", "!100*hff3", hff3),
    ("voice.wav", "A3", "100", "P", "0", "3000", "40", "0", "150", "0"),
    ("voice.wav", "A4", "100", "g-20P100", "0", "1000", "0", "0", "60", "0"),
    ("m22k.wav", "C5", "100", "", "0", "500", "40", "0", "100", "0", "!120", b64_ramp),
    ("m22k.wav", "A3", "100", "v120s", "0", "1000", "80", "-200", "80", "0", "!80*hff0", hff0),
    ("m48k.wav", "A4-30", "100", "g-12", "0", "450", "60", "0", "100", "0", "!120", b64_wobble),
    ("m48k.wav", "E5", "200", "B80P50", "0", "300", "30", "0", "100", "0", "!200*enc1", enc1),
    ("m44k.wav", "G4", "0", "", "30", "1100", "100", "100", "100", "50", "!60", b64_ramp),
    ("u8.wav", "D4", "100", "", "0", "500", "60", "0", "100", "0", "!120", b64_wobble),
    ("i24.wav", "D#4", "100", "g3", "0", "500", "60", "0", "100", "0", "!120", b64_ramp),
    ("i32.wav", "C#4", "100", "", "0", "520", "60", "0", "100", "0", "!120*cmp2", cmp2),
    ("f32.wav", "F4", "100", "N", "0", "480", "60", "0", "100", "0", "!120", b64_wobble),
    ("f64.wav", "A#3", "100", "", "0", "560", "60", "0", "100", "0", "!120", "AA#20#"),
    ("st16.wav", "C4", "100", "B20", "0", "600", "60", "0", "100", "0", "!120", b64_ramp),
    ("st24_48k.wav", "A4", "100", "", "0", "2000", "0", "0", "100", "0"),
    ("st24_48k.wav", "C#5", "100", "g5", "0", "1500", "50", "0", "100", "20", "!120", b64_wobble),
    ("neko_a.wav", "C4", "100", "", "0", "1200", "30", "60", "100", "0", "!120", b64_wobble),
    ("neko_ka.wav", "G4", "100", "g-10", "200", "900", "50", "60", "100", "0", "!150*hff3", hff3),
    ("neko_sa.wav", "A5", "100", "", "50", "800", "50", "60", "100", "0"),
    ("neko_ri.wav", "E3", "120", "t20", "50", "1500", "50", "60", "100", "0", "!90", b64_ramp),
]

def render(exe, name):
    d = os.path.join(work, name)
    shutil.copytree(src, d)
    for i, note in enumerate(notes):
        subprocess.run([exe, note[0], "out%d.wav" % i] + list(note[1:]), cwd=d,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return d

d_old, d_new = render(old, "old"), render(new, "new")

def samples(path):
    if not os.path.exists(path):
        return None
    with wave.open(path, "rb") as w:
        return struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes()))

passed = failed = 0
print("%-4s %-14s %-8s %-10s %8s %7s %10s" % ("note", "sample", "pitch", "flags", "samples", "max LSB", "identical"))
for i, note in enumerate(notes):
    a, b = samples(os.path.join(d_old, "out%d.wav" % i)), samples(os.path.join(d_new, "out%d.wav" % i))
    if a is None or b is None:
        ok = a is None and b is None
        print("%-4d %-14s %-8s %-10s %8s %7s %10s" % (i, note[0], note[1], note[3], "-", "-",
              "neither" if ok else "ONE ONLY"))
    elif len(a) != len(b):
        ok = False
        print("%-4d %-14s %-8s %-10s lengths differ: %d and %d" % (i, note[0], note[1], note[3], len(a), len(b)))
    else:
        worst = max((abs(x - y) for x, y in zip(a, b)), default=0)
        same = sum(1 for x, y in zip(a, b) if x == y) / len(a) if a else 1.0
        ok = worst <= 1 and same >= 0.995
        print("%-4d %-14s %-8s %-10s %8d %7d %9.3f%%" % (i, note[0], note[1], note[3], len(a), worst, 100 * same))
    passed, failed = passed + ok, failed + (not ok)
for f in sorted(os.listdir(d_old)):
    if f.endswith(".frq"):
        other = os.path.join(d_new, f)
        ok = os.path.exists(other) and open(os.path.join(d_old, f), "rb").read() == open(other, "rb").read()
        print("FRQ  %-30s %s" % (f, "identical" if ok else "DIFFERS"))
        passed, failed = passed + ok, failed + (not ok)
print("output_drift: at most 1 LSB and at least 99.5 % identical samples per note")
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
PY
