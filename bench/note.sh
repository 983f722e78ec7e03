#!/usr/bin/env bash
# Whole-process timing of three notes against rubberband -F, as alternating
# pairs: each round runs kelmotra and `rubberband -q -F -p 12 -t 1.0 IN OUT`
# on the same input (in turns, so that both see the same load), and the
# figure is the median of the per-round ratios kelmotra / rubberband. Target
# for the standard note: at most 0.07.
#
#   bash bench/note.sh [--rounds N] [--old OLD_EXE] [BUILD_DIR]
#
# The notes, each with the sample's FRQ file already in place:
#   standard  2.0 s at A4 from the bundled 220 Hz sample (stretched)
#   bend      1.5 s at E4 with a 100-cent rise halfway (scripts/demo.sh's)
#   48k24st   2.0 s at A4 from a generated 48 kHz 24-bit stereo sample
# BUILD_DIR defaults to build-bench (configured and built in Release when it
# has no kelmotra yet); N defaults to 21 rounds (at least 15). --old adds a
# second kelmotra (an earlier build, say) to every round, timed the same way.
# Reports the median ratio with its spread (quartiles and extremes), the
# median wall times, and the ratio of CPU times (user + system), which a
# loaded machine disturbs less. Installs rubberband-cli with apt-get when it
# is missing and this runs as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=21
old=""
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --old) old=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    -*) echo "usage: $0 [--rounds N] [--old OLD_EXE] [BUILD_DIR]" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
[ "$rounds" -ge 15 ] 2>/dev/null || { echo "note.sh: at least 15 rounds" >&2; exit 2; }
build=${build:-$root/build-bench}
case $build in /*) ;; *) build=$PWD/$build ;; esac

if ! command -v rubberband >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq rubberband-cli >/dev/null
  else
    echo "note.sh: rubberband is needed (apt-get install rubberband-cli)" >&2; exit 1
  fi
fi
if [ ! -x "$build/kelmotra" ] || [ ! -x "$build/tools/make_voice" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kelmotra make_voice -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/data/voice.wav" "$work/voice.wav"
"$build/tools/make_voice" "$work/m48k.wav" 2.0 220 48000 >/dev/null
python3 - "$work" <<'PY'
import struct, sys, wave
d = sys.argv[1]
with wave.open(d + "/m48k.wav", "rb") as w:
    rate, n = w.getframerate(), w.getnframes()
    s = struct.unpack("<%dh" % n, w.readframes(n))
data = b"".join(struct.pack("<i", v * 256 + i % 3)[:3] + struct.pack("<i", -v * 128)[:3]
                for i, v in enumerate(s))
fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 2, rate, rate * 6, 6, 24)
body = b"WAVE" + fmt + struct.pack("<4sI", b"data", len(data)) + data
open(d + "/st24.wav", "wb").write(struct.pack("<4sI", b"RIFF", len(body)) + body)
PY

cd "$work"
python3 - "$build/kelmotra" "$old" "$rounds" <<'PY'
import os, statistics, sys, time

new, old, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
notes = {
    "standard": ["voice.wav", "A4", "100", "", "0", "2000", "0", "0", "100", "0"],
    "bend": ["voice.wav", "E4", "100", "n", "0", "1500", "80", "0", "100", "0", "!120", "AA#128#Bk#160#"],
    "48k24st": ["st24.wav", "A4", "100", "", "0", "2000", "0", "0", "100", "0"],
}
null = os.open(os.devnull, os.O_RDWR)

def run(argv):
    """Wall and CPU (user + system) seconds of one process."""
    acts = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=acts)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("note.sh: %s failed" % " ".join(argv))
    return wall, usage.ru_utime + usage.ru_stime

def rubberband_exe():
    for d in os.environ.get("PATH", "").split(":"):
        p = os.path.join(d, "rubberband")
        if os.access(p, os.X_OK):
            return p
    sys.exit("note.sh: no rubberband")

rb = rubberband_exe()
builds = [("kelmotra", new)] + ([("old", old)] if old else [])
print("%d rounds per note; each round runs %s and rubberband -F in turn" % (rounds, " and ".join(b[0] for b in builds)))
for label, note in notes.items():
    for _, exe in builds:  # the first run of each analyses the sample and writes its map
        run([exe, note[0], "out.wav"] + note[1:])
    rb_argv = [rb, "-q", "-F", "-p", "12", "-t", "1.0", note[0], "rb.wav"]
    run(rb_argv)
    times = {name: [] for name, _ in builds}
    rbt = []
    ratios = {name: [] for name, _ in builds}
    cpu_ratios = {name: [] for name, _ in builds}
    for r in range(rounds):
        jobs = [("rb", rb_argv)] + [(name, [exe, note[0], "out.wav"] + note[1:]) for name, exe in builds]
        shift = r % len(jobs)  # the order turns from round to round
        got = {name: run(argv) for name, argv in jobs[shift:] + jobs[:shift]}
        rbt.append(got["rb"][0])
        for name, _ in builds:
            times[name].append(got[name][0])
            ratios[name].append(got[name][0] / got["rb"][0])
            cpu_ratios[name].append(got[name][1] / got["rb"][1] if got["rb"][1] > 0 else float("nan"))
    print("%s: %s" % (label, " ".join(note)))
    print("  rubberband -F   median %7.2f ms" % (1000 * statistics.median(rbt)))
    for name, _ in builds:
        q = statistics.quantiles(ratios[name], n=4)
        print("  %-14s  median %7.2f ms   ratio median %.4f (quartiles %.4f-%.4f, range %.4f-%.4f)   CPU ratio %.4f"
              % (name, 1000 * statistics.median(times[name]), statistics.median(ratios[name]), q[0], q[2],
                 min(ratios[name]), max(ratios[name]), statistics.median(cpu_ratios[name])))
banner = [run([new])[0] for _ in range(rounds)]
print("banner only (start-up floor): median %.2f ms" % (1000 * statistics.median(banner)))
print("target: standard note ratio at most 0.07")
PY
