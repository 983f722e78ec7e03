#!/usr/bin/env bash
# Makes the release files of the current version (CMake's project version) in
# dist/, then lists each one's contents against the files it must hold:
#
#   kelmotra-VERSION-linux-x86_64.tar.gz   the installed tree (CPack)
#   kelmotra_VERSION_amd64.deb             the same as a Debian package (CPack)
#   kelmotra-VERSION-windows-x64.zip       drop-in folders for a host's
#   kelmotra-VERSION-windows-x86.zip       Resamplers folder
#
# Builds are reused where they exist: build-check/release (scripts/check.sh)
# for Linux, build-win64/ and build-win32/ (.ci/windows.sh) for Windows.
# Missing ones are made in build-release/, build-win64/ and build-win32/,
# without their tests. The Windows editions need the MinGW-w64 compilers
# (.ci/windows.sh installs them).
#
#   bash scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
dist=$root/dist
stage=$(mktemp -d /tmp/kelmotra-release.XXXXXX)
trap 'rm -rf "$stage"' EXIT

bash scripts/install-deps.sh

# A build folder configured from this source tree.
reusable() { grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$1/CMakeCache.txt" 2>/dev/null; }

# configure <dir> [options]: unless the folder can be reused.
configure() {
  local dir=$1
  shift
  reusable "$dir" && return 0
  echo "== Configuring ${dir#$root/}"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKELMOTRA_TESTS=OFF -DKELMOTRA_BENCH=OFF "$@" >/dev/null
}

# build <dir> [targets]: its log is shown only when the build fails.
build() {
  local dir=$1
  shift
  echo "== Building ${dir#$root/}"
  if ! cmake --build "$dir" -j"$jobs" ${1:+--target "$@"} >"$stage/build.log" 2>&1; then
    tail -40 "$stage/build.log" >&2
    echo "FAILED: building ${dir#$root/}" >&2
    exit 1
  fi
}

# check_contents <archive> <expected file list>: the files (not folders) it holds.
check_contents() {
  local archive=$1 expected=$2 listed
  case $archive in
    *.deb) listed=$(dpkg-deb --fsys-tarfile "$archive" | tar -t) ;;
    *) listed=$(cmake -E tar tf "$archive") ;;
  esac
  if ! diff -u <(sort <<<"$expected") <(grep -v '/$' <<<"$listed" | sort) >"$stage/diff"; then
    cat "$stage/diff" >&2
    echo "FAILED: ${archive#$root/} does not hold the expected files (- missing, + unexpected)" >&2
    exit 1
  fi
  echo "${archive#$root/}: $(wc -l <<<"$expected") files, as expected"
}

# --- Linux: the .tar.gz and the .deb ------------------------------------------
linux=$root/build-check/release
reusable "$linux" || linux=$root/build-release
configure "$linux"
build "$linux"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
if [ ! -f "$linux/man/kelmotra.1" ]; then
  echo "FAILED: no manual pages were made (help2man is missing?)" >&2
  exit 1
fi
mkdir -p "$dist"
cpack --config "$linux/CPackConfig.cmake" -B "$stage/cpack" >/dev/null
tarball=kelmotra-$version-linux-x86_64.tar.gz
deb=kelmotra_${version}_amd64.deb
mv "$stage/cpack/$tarball" "$stage/cpack/$deb" "$dist/"

tree=""
for f in bin/kelmotra bin/kelmotra-frq bin/kelmotra-bend share/kelmotra/kelmotra.yaml \
    share/man/man1/kelmotra.1 share/man/man1/kelmotra-frq.1 share/man/man1/kelmotra-bend.1 \
    share/doc/kelmotra/README.md share/doc/kelmotra/LICENSE share/doc/kelmotra/CHANGELOG.md; do
  tree+="$f"$'\n'
done
tree=${tree%$'\n'}
check_contents "$dist/$tarball" "$(sed "s|^|kelmotra-$version-linux-x86_64/|" <<<"$tree")"
check_contents "$dist/$deb" "$(sed 's|^|./usr/|' <<<"$tree")"

# --- Windows: one drop-in folder per edition ------------------------------------
windows_zip() {
  local dir=$1 toolchain=$2 arch=$3 compiler=$4
  if ! reusable "$dir" && ! command -v "$compiler" >/dev/null; then
    echo "FAILED: $compiler is missing for the $arch edition (bash .ci/windows.sh installs it)" >&2
    exit 1
  fi
  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain"
  build "$dir" kelmotra kelmotra-frq kelmotra-bend
  local name=kelmotra-$version-windows-$arch
  cmake --install "$dir" --prefix "$stage/$name" --strip >/dev/null
  (cd "$stage" && cmake -E tar cf "$dist/$name.zip" --format=zip "$name")
  check_contents "$dist/$name.zip" "$(printf "$name/%s\n" kelmotra.exe kelmotra-frq.exe kelmotra-bend.exe \
    kelmotra.yaml README.md LICENSE)"
}
windows_zip "$root/build-win64" cmake/mingw-x86_64.cmake x64 x86_64-w64-mingw32-g++-posix
windows_zip "$root/build-win32" cmake/mingw-i686.cmake x86 i686-w64-mingw32-g++-posix

echo "Release $version in ${dist#$root/}/:"
ls -l "$dist"
