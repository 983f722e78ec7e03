#!/usr/bin/env bash
# The Windows editions: cross-builds the x64 and the x86 edition with MinGW-w64
# (static .exe files) and runs their test suites under Wine, then renders a
# matrix of notes with the Linux build and each edition and compares the files
# byte for byte (tests/windows/compare.sh). The suites check the deterministic
# math against the table the native Linux build writes (det_math_reference.txt).
#
# When the toolchain cannot be installed (no disk space, packages out of
# reach) the script says so loudly and exits 0: only the Windows part is
# skipped. On a machine whose kernel runs no 32-bit code the x86 edition's
# program and tools are built but cannot run: the script says so loudly and
# runs an i686 Linux build (cmake/linux-i686.cmake, the same 32-bit SSE2
# arithmetic) under qemu-i386 instead, its suite with the x87 unit at 53-bit
# precision as in a Windows process, and adds it to the comparison. Build
# failures of the program or the tools, and failing tests, make the script fail.
#
#   bash .ci/windows.sh
#   KELMOTRA_WINDOWS_STRICT=1 bash .ci/windows.sh   # tools and test programs
#                                                   # that do not build fail it too
#   KELMOTRA_LINUX_EXE=build-x/kelmotra bash .ci/windows.sh   # the Linux build to
#                   # compare with (default build-check/release, built when missing)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
strict=${KELMOTRA_WINDOWS_STRICT:-0}
# Each edition keeps its own Wine prefix inside its build folder.
unset WINEPREFIX

banner() {
  printf '\n!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n' >&2
  printf '!!! %s\n' "$@" >&2
  printf '!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n\n' >&2
}
skip_all() {
  banner "WINDOWS EDITIONS SKIPPED: $1" "Nothing was built or tested for Windows in this run."
  exit 0
}

# --- Can this machine run 32-bit x86 code at all? -----------------------------
# A 93-byte static i386 program that only calls exit(0). Some virtual machines
# run 64-bit user code only; there the 32-bit Wine loader cannot start either.
can_run_32bit() {
  local probe
  probe=$(mktemp)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
  printf '\x00\x00\x00\x00' >>"$probe"
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
  printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
  printf '\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >>"$probe"
  chmod +x "$probe"
  local ok=1
  "$probe" >/dev/null 2>&1 && ok=0
  rm -f "$probe"
  return $ok
}

# --- Toolchain -----------------------------------------------------------------
run32=0
can_run_32bit && run32=1

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine wine64)
[ -d /usr/src/googletest ] || missing+=(googletest)
# Where 32-bit code cannot run natively, the i686 Linux build under user-mode
# emulation stands in for the x86 edition.
if [ $run32 = 0 ]; then
  command -v qemu-i386 >/dev/null || missing+=(qemu-user)
  echo 'int main() {}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null || missing+=(g++-multilib)
fi
need32=0
if [ $run32 = 1 ] && [ ! -x /usr/lib/wine/wine ]; then need32=1; fi

if [ ${#missing[@]} -gt 0 ] || [ $need32 = 1 ]; then
  echo "== Installing the Windows toolchain: ${missing[*]} $([ $need32 = 1 ] && echo wine32:i386)"
  [ "$(id -u)" = 0 ] || skip_all "the toolchain is missing (${missing[*]}) and this is not root"
  avail_kb=$(df -Pk /var/cache/apt 2>/dev/null | awk 'NR==2 {print $4}')
  if [ -n "${avail_kb:-}" ] && [ "$avail_kb" -lt 3000000 ]; then
    skip_all "disk full: $((avail_kb / 1024)) MB free, the toolchain needs about 3 GB"
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ $need32 = 1 ]; then
    dpkg --add-architecture i386 || skip_all "dpkg --add-architecture i386 failed"
  fi
  log=$(mktemp)
  if ! apt-get update -q >"$log" 2>&1; then
    tail -5 "$log" >&2
    skip_all "apt-get update failed (package archive unreachable?)"
  fi
  pkgs=("${missing[@]}")
  [ $need32 = 1 ] && pkgs+=(wine32:i386)
  if ! apt-get install -y -q --no-install-recommends "${pkgs[@]}" >"$log" 2>&1; then
    tail -5 "$log" >&2
    if grep -qi "no space left" "$log"; then
      skip_all "disk full while installing ${pkgs[*]}"
    fi
    skip_all "could not install ${pkgs[*]} (see the apt-get lines above)"
  fi
  rm -f "$log"
fi
[ $run32 = 1 ] && [ ! -x /usr/lib/wine/wine ] && run32=0

# --- Build ---------------------------------------------------------------------
status=0
expected_tests() {
  local area
  for area in audio freqmap pitchcodec driver tools; do
    compgen -G "$root/tests/$area/*.cpp" >/dev/null && echo "test_$area"
  done
}

# configure <dir> <toolchain file> <what>: a Release build folder.
configure() {
  local dir=$1 toolchain=$2 what=$3
  echo "== Building the $what in ${dir#$root/}"
  mkdir -p "$dir"
  if ! cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DKELMOTRA_BENCH=OFF -DKELMOTRA_FUZZ=OFF >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "FAILED: configuring the $what" >&2
    return 1
  fi
}

# build_edition <dir> <toolchain file> <name> [programs]: the program and tools
# must build; test programs that do not compile are reported (and fail the run
# in strict mode). With "programs" (an edition that cannot run here) the test
# programs are not built.
build_edition() {
  local dir=$1 toolchain=$2 name=$3 only=${4:-}
  configure "$dir" "$toolchain" "$name edition" || return 1
  local t f
  local tools=() targets=() tests
  [ -f "$root/tools/make_voice.cpp" ] && tools+=(make_voice)
  [ -f "$root/tools/kelmotra_frq.cpp" ] && tools+=(kelmotra-frq)
  [ -f "$root/tools/kelmotra_bend.cpp" ] && tools+=(kelmotra-bend)
  tests=$(expected_tests | sed 's|^|tests/|')
  if [ "$only" = programs ]; then
    tests=""
    targets=(--target kelmotra "${tools[@]}")
  fi
  cmake --build "$dir" -j"$jobs" "${targets[@]}" -- -k >"$dir/build.log" 2>&1
  local ok=0
  skipped_labels=""
  if [ ! -f "$dir/kelmotra.exe" ]; then
    grep -E "error|Error" "$dir/build.log" | head -20 >&2
    echo "FAILED: the $name edition's kelmotra.exe did not build" >&2
    return 1
  fi
  # Tools and test programs: reported, and fatal in strict mode only (other
  # parts of the tree may not be ready for Windows yet).
  for t in "${tools[@]}" $tests; do
    case $t in tests/*) f="$dir/$t.exe" ;; *) f="$dir/tools/$t.exe" ;; esac
    if [ ! -f "$f" ]; then
      grep -E "error:|undefined reference" "$dir/build.log" | sort -u | head -10 >&2
      if [ "$strict" = 1 ]; then
        echo "FAILED: ${f#$dir/} of the $name edition did not build" >&2
        ok=1
      else
        banner "${f#$dir/} of the $name edition did not build (errors above); what needs it was not run"
        case $t in tests/test_*) skipped_labels+=" ${t#tests/test_}" ;; *) skipped_labels+=" tools" ;; esac
      fi
    fi
  done
  return $ok
}

# Known Windows-only test failures: one "Suite.Test" per line in
# tests/windows/known_failures.txt ('#' starts a comment). They are left out
# of the run and listed, so that they stay visible until fixed.
list_names() { sed -e 's/#.*//' -e 's/[[:space:]]//g' "$1" | grep -v '^$'; }
exclude_regex() {
  local list=${1:-$root/tests/windows/known_failures.txt} names
  [ -f "$list" ] || return 0
  names=$(list_names "$list" | sed 's/\./\\./g' | paste -sd'|' -)
  [ -n "$names" ] && echo "^($names)\$"
}

# run_tests <dir> <wine loader> <name> [area ...]: the areas given are left out
# (their programs did not build).
run_tests() {
  local dir=$1 loader=$2 name=$3
  shift 3
  local skip_areas
  skip_areas=$(printf '%s\n' "$@" | grep -v '^$' | sort -u | paste -sd'|' -)
  export WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
  # Create the prefix, then keep one server running with the standard streams
  # detached; otherwise every test program waits seconds for a server.
  "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  /usr/lib/wine/wineserver -w >/dev/null 2>&1
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  local ex
  ex=$(exclude_regex)
  if [ -n "$ex" ]; then
    banner "Known Windows test failures left out of the $name run:" \
      $(list_names "$root/tests/windows/known_failures.txt")
  fi
  if [ -n "$skip_areas" ]; then
    banner "Test areas of the $name edition NOT RUN (their programs did not build): ${skip_areas//|/ }"
    ex="${ex:+$ex|}_NOT_BUILT\$"
  fi
  echo "== Tests of the $name edition under Wine"
  local rc=0
  # A test that fails is run once more (its first output stays in the log):
  # under a loaded Wine a program now and then dies before its first line.
  # A test that fails twice fails the run.
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 900 --repeat until-pass:2 ${ex:+-E "$ex"} \
    ${skip_areas:+-LE "^($skip_areas)\$"}) || rc=1
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  return $rc
}

# The x86 edition must compute in SSE2 like the x64 one: x87 arithmetic (with
# its 64-bit significands) in our own code would change result bits. Loads,
# stores, integer conversions, fabs and conditional moves are exact and allowed.
check_no_x87_arithmetic() {
  local dir=$1 found
  found=$(find "$dir/CMakeFiles/kelmotra_core.dir" "$dir/CMakeFiles/kelmotra.dir" -name '*.obj' -print0 |
    xargs -0 -r i686-w64-mingw32-objdump -d --no-show-raw-insn 2>/dev/null |
    awk '/^[^ \t].*:$/ { fn = $0 }
         $2 ~ /^(fi?(add|sub|subr|mul|div|divr)p?[slq]?|fsqrt|fsin|fcos|fsincos|fptan|fpatan|f2xm1|fyl2x|fyl2xp1|fscale|frndint|fprem1?|fxtract)$/ { print fn " " $2 }' |
    sort -u | head -20)
  if [ -n "$found" ]; then
    echo "$found" >&2
    echo "FAILED: x87 arithmetic in the x86 edition (see above); it must use SSE2" >&2
    return 1
  fi
  echo "x86 edition: no x87 arithmetic in the program's code"
}

# The native Linux build that the editions are compared with; it also writes
# the deterministic math table that every edition's suite must reproduce.
linux_exe=${KELMOTRA_LINUX_EXE:-$root/build-check/release/kelmotra}
linux_dir=$(dirname "$linux_exe")
export KELMOTRA_DET_MATH_TABLE="$linux_dir/det_math_reference.txt"
if [ ! -f "$KELMOTRA_DET_MATH_TABLE" ] || [ ! -x "$linux_exe" ]; then
  echo "== Building the Linux reference in ${linux_dir#$root/}"
  { [ -f "$linux_dir/CMakeCache.txt" ] || cmake -S "$root" -B "$linux_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null; } &&
    cmake --build "$linux_dir" -j"$jobs" --target kelmotra make_voice kelmotra-bend det_math_reference >/dev/null ||
    { echo "FAILED: the Linux reference build in $linux_dir" >&2; exit 1; }
fi

# The i686 Linux build (program, tools and test programs) for qemu-i386.
build_i686() {
  local dir=$1
  configure "$dir" cmake/linux-i686.cmake "i686 Linux build" || return 1
  if ! cmake --build "$dir" -j"$jobs" >"$dir/build.log" 2>&1; then
    grep -E "error:|undefined reference" "$dir/build.log" | sort -u | head -20 >&2
    echo "FAILED: the i686 Linux build" >&2
    return 1
  fi
}

# The i686 suite under qemu-i386, the x87 unit at 53-bit precision as in a
# Windows process. The tests in tests/windows/slow_under_emulation.txt are
# left out (listed): they take minutes there and prove nothing about 32-bit
# arithmetic that the rest of the suite and the comparison do not.
run_i686_tests() {
  local dir=$1 ex
  ex=$(exclude_regex "$root/tests/windows/slow_under_emulation.txt")
  [ -n "$ex" ] && banner "Tests left out of the i686 run under qemu-i386 (too slow there):" \
    $(list_names "$root/tests/windows/slow_under_emulation.txt")
  echo "== Tests of the i686 Linux build under qemu-i386"
  (cd "$dir" && KELMOTRA_X87_DOUBLE=1 ctest --output-on-failure -j"$jobs" --timeout 900 --repeat until-pass:2 ${ex:+-E "$ex"})
}

win64="$root/build-win64"
win32="$root/build-win32"
i686="$root/build-i686"
build_edition "$win64" cmake/mingw-x86_64.cmake x64 || status=1
skip64=$skipped_labels
build_edition "$win32" cmake/mingw-i686.cmake x86 $([ $run32 = 0 ] && echo programs) || status=1
skip32=$skipped_labels
if [ -f "$win32/kelmotra.exe" ]; then
  check_no_x87_arithmetic "$win32" || status=1
fi

# The x64 suite under Wine waits on Wine more than it computes: where the i686
# Linux build is needed, it builds meanwhile.
x64_log="$win64/tests.log"
x64_pid=""
if [ -f "$win64/kelmotra.exe" ]; then
  run_tests "$win64" /usr/lib/wine/wine64 x64 $skip64 >"$x64_log" 2>&1 &
  x64_pid=$!
fi
if [ $run32 = 0 ]; then
  banner "x86 edition: program and tools built, its suite NOT RUN: this machine cannot execute 32-bit code" \
    "(its kernel runs 64-bit user programs only, so the 32-bit Wine loader cannot start)." \
    "Instead: the i686 Linux build under qemu-i386 (the same 32-bit SSE2 arithmetic)."
  build_i686 "$i686" || status=1
fi
if [ -n "$x64_pid" ]; then
  wait "$x64_pid" || status=1
  cat "$x64_log"
fi
if [ $run32 = 1 ]; then
  [ -f "$win32/kelmotra.exe" ] && { run_tests "$win32" /usr/lib/wine/wine x86 $skip32 || status=1; }
elif [ -f "$i686/kelmotra" ]; then
  run_i686_tests "$i686" || status=1
fi

# --- Same bytes on every platform ------------------------------------------------
if [ -f "$root/tests/windows/compare.sh" ] && [ -f "$win64/kelmotra.exe" ]; then
  echo "== The Linux build and the editions render the same bytes"
  args=(--x64 "$win64/kelmotra.exe" --linux "$linux_exe")
  [ $run32 = 1 ] && [ -f "$win32/kelmotra.exe" ] && args+=(--x86 "$win32/kelmotra.exe")
  [ $run32 = 0 ] && [ -f "$i686/kelmotra" ] && args+=(--i686 "$i686/kelmotra")
  bash "$root/tests/windows/compare.sh" "${args[@]}" || status=1
fi

if [ $status = 0 ]; then
  echo "Windows editions: all passed in $SECONDS s"
else
  echo "Windows editions: FAILED (after $SECONDS s)" >&2
fi
exit $status
