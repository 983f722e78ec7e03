#!/usr/bin/env bash
# Builds kelmotra and renders a demo note from the bundled voice sample.
#   bash scripts/demo.sh        -> out/demo.wav (and out/demo-bend.wav)
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake g++ make >/dev/null
  else
    echo "cmake and g++ are needed (apt-get install cmake g++)" >&2; exit 1
  fi
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKELMOTRA_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
mkdir -p out
# Work on a copy, so that the sample's frequency map is written beside the copy.
cp data/voice.wav out/voice.wav
# A 1.5 s note at E4 (the sample sings A3): consonant 80 ms, offset 0, volume 100 %.
build/kelmotra out/voice.wav out/demo.wav E4 100 "" 0 1500 80 0 100 0
# The same note with a bend: a 100-cent rise halfway through, tempo 120.
build/kelmotra out/voice.wav out/demo-bend.wav E4 100 n 0 1500 80 0 100 0 '!120' 'AA#128#Bk#160#'
echo "wrote out/demo.wav and out/demo-bend.wav"
