#!/usr/bin/env bash
# Builds a program that reads a recording through hdrmend's installed
# libraries the two ways other projects do, with find_package(hdrmend) and
# with pkg-config, against the installation under PREFIX; runs both on
# examples/take1.raw and compares what they print. tests/install/run.sh runs
# it on a `cmake --install`, tests/package/check-deb.sh on the Debian
# packages installed into a scratch root: SYSROOT is then that root and
# PREFIX its usr, since the packaged hdrmend.pc says /usr, which pkg-config
# looks for under SYSROOT.
#
#   tests/install/consumers.sh PREFIX [COMPILER [FLAGS [SYSROOT]]]
#
# COMPILER (default c++) and FLAGS (a sanitizer build's -fsanitize options)
# build the program as the libraries were built. Needs cmake and pkg-config.
# Exit status 0 when both programs print what the recording holds.
set -euo pipefail
prefix=$(cd "${1:?usage: tests/install/consumers.sh PREFIX [COMPILER [FLAGS [SYSROOT]]]}" && pwd)
cxx=${2:-c++}
flags=${3:-}
sysroot=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
recording=$here/../../examples/take1.raw
# What take1.raw holds; its header claims three frames more.
expected="text, 3 cameras, header 15 frames, read 12 frames with 78 globs"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-consumers.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
read -r -a flag_list <<<"$flags"

# Runs a command quietly, showing its output only when it fails.
quiet() {
  local log=$scratch/step.log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$*"
  fi
}

echo "== a CMake project with find_package(hdrmend)"
quiet cmake -S "$here/consumer" -B "$scratch/consumer-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
# It must have found the installation under test, not one elsewhere on the machine.
found=$(sed -n 's/^hdrmend_DIR:PATH=//p' "$scratch/consumer-cmake/CMakeCache.txt")
[[ $found == "$prefix"/* ]] || fail "find_package(hdrmend) found $found, not the installation in $prefix"
quiet cmake --build "$scratch/consumer-cmake"

echo "== c++ \$(pkg-config --cflags --libs hdrmend)"
pc=$(find "$prefix" -name hdrmend.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "hdrmend.pc was not installed in a pkgconfig directory"
# Only this installation's .pc files, none of the machine's.
pc_flags=$(PKG_CONFIG_LIBDIR=$(dirname "$pc") PKG_CONFIG_PATH='' PKG_CONFIG_SYSROOT_DIR=$sysroot \
  pkg-config --cflags --libs hdrmend) || fail "pkg-config does not know hdrmend"
echo "pkg-config: $pc_flags"
[[ " $pc_flags " == *" -I$prefix/include/hdrmend "* ]] ||
  fail "pkg-config's include directory is not $prefix/include/hdrmend"
[[ $pc_flags == *"-lhdrmend_rawdata -lhdrmend_streams -lhdrmend_system -lhdrmend_foundation"* ]] ||
  fail "pkg-config does not give the libraries in link order"
read -r -a pc_list <<<"$pc_flags"
quiet "$cxx" -std=c++17 "${flag_list[@]}" -o "$scratch/count_frames" "$here/consumer/count_frames.cc" \
  "${pc_list[@]}"

for program in "$scratch/consumer-cmake/count_frames" "$scratch/count_frames"; do
  output=$("$program" "$recording" 2>&1) || fail "$program failed: $output"
  [ "$output" = "$expected" ] || fail "$program printed \"$output\", not \"$expected\""
done
echo "both programs printed: $expected"
