#!/usr/bin/env bash
# Installs a build into a scratch prefix as `cmake --install` does for a
# user, checks that every installed library carries the project's name, then
# builds a program that reads a recording through the installed libraries the
# two ways other projects do, with find_package(hdrmend) and with pkg-config,
# and runs both on examples/take1.raw (tests/install/consumers.sh).
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

echo "== cmake --install $build --prefix <scratch>"
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  fail "cmake --install $build failed"
fi

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

"$here/consumers.sh" "$prefix" "$cxx" "$flags" || fail "a program could not use the installed libraries"

# The installed command runs from where it was installed.
banner=$("$prefix/bin/hdrmend" -v 2>&1 >/dev/null) || fail "the installed hdrmend -v failed"
[[ $banner == hdrmend* ]] || fail "the installed hdrmend -v printed \"$banner\""
compgen -G "$prefix/share/man/man1/hdrmend.1*" >/dev/null || fail "the man page was not installed"
# The licence goes with every copy.
[ -f "$prefix/share/doc/hdrmend/copyright" ] || fail "share/doc/hdrmend/copyright was not installed"
echo "install test passed"
