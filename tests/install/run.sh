#!/usr/bin/env bash
# Installs a build into a scratch prefix as `cmake --install` does for a
# user, then builds a program that reads a recording through the installed
# libraries the two ways other projects do, with find_package(hdrmend) and
# with pkg-config, runs both on examples/take1.raw, and checks that every
# installed library carries the project's name.
#
#   tests/install/run.sh BUILD_DIR [COMPILER [FLAGS]]
#
# COMPILER (default c++) and FLAGS (a sanitizer build's -fsanitize options)
# build the program as the libraries were built. Exits 77, which CTest counts
# as skipped, when the compiler, cmake or pkg-config is missing.
set -euo pipefail
build=$(cd "${1:?usage: tests/install/run.sh BUILD_DIR [COMPILER [FLAGS]]}" && pwd)
cxx=${2:-c++}
flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
recording=$here/../../examples/take1.raw
# What take1.raw holds; its header claims three frames more.
expected="text, 3 cameras, header 15 frames, read 12 frames with 78 globs"

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

command -v "$cxx" >/dev/null 2>&1 || skip "no C++ compiler '$cxx'"
command -v cmake >/dev/null 2>&1 || skip "cmake is not installed"
command -v pkg-config >/dev/null 2>&1 ||
  skip "pkg-config is not installed (tools/install-deps installs it)"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
read -r -a flag_list <<<"$flags"

# Runs a command quietly, showing its output only when it fails.
quiet() {
  local log=$scratch/step.log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$*"
  fi
}

echo "== cmake --install $build --prefix <scratch>"
quiet cmake --install "$build" --prefix "$prefix"

# Only libraries named after the project, and all four of them.
libraries=()
while IFS= read -r -d '' path; do
  libraries+=("$(basename "$path")")
done < <(find "$prefix" \( -name '*.a' -o -name '*.so' -o -name '*.so.*' \) -print0)
for name in "${libraries[@]}"; do
  [[ $name == libhdrmend_* ]] || fail "installed library $name lacks the hdrmend prefix"
done
for layer in foundation system streams rawdata; do
  [[ " ${libraries[*]} " == *" libhdrmend_$layer.a "* ]] || fail "libhdrmend_$layer.a was not installed"
done
echo "installed libraries: ${libraries[*]}"
[ -f "$prefix/include/hdrmend/rawdata/ZrRDFileReader.h" ] ||
  fail "include/hdrmend/rawdata/ZrRDFileReader.h was not installed"

echo "== a CMake project with find_package(hdrmend)"
quiet cmake -S "$here/consumer" -B "$scratch/consumer-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
# It must have found the scratch installation, not one elsewhere on the machine.
found=$(sed -n 's/^hdrmend_DIR:PATH=//p' "$scratch/consumer-cmake/CMakeCache.txt")
[[ $found == "$prefix"/* ]] || fail "find_package(hdrmend) found $found, not the scratch installation"
quiet cmake --build "$scratch/consumer-cmake"

echo "== c++ \$(pkg-config --cflags --libs hdrmend)"
pc=$(find "$prefix" -name hdrmend.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "hdrmend.pc was not installed in a pkgconfig directory"
# Only the scratch installation's .pc files, none of the machine's.
pc_flags=$(PKG_CONFIG_LIBDIR=$(dirname "$pc") PKG_CONFIG_PATH='' pkg-config --cflags --libs hdrmend) ||
  fail "pkg-config does not know hdrmend"
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

# The installed command runs from where it was installed.
banner=$("$prefix/bin/hdrmend" -v 2>&1 >/dev/null) || fail "the installed hdrmend -v failed"
[[ $banner == hdrmend* ]] || fail "the installed hdrmend -v printed \"$banner\""
compgen -G "$prefix/share/man/man1/hdrmend.1*" >/dev/null || fail "the man page was not installed"
echo "install test passed"
