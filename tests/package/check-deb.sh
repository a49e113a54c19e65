#!/usr/bin/env bash
# Makes the Debian package of a build with `cpack -G DEB` and checks it: its
# contents list the command, the man page, every library (each named after
# the project), a header and both package files; its control fields carry
# the maintainer, gzip as a dependency and the other filter programs as
# recommendations; and the command extracted from it with `dpkg -x` runs.
#
#   tests/package/check-deb.sh BUILD_DIR
#
# Exit status 0 when the package passes, 1 otherwise, each fault named.
set -euo pipefail
build=$(cd "${1:?usage: tests/package/check-deb.sh BUILD_DIR}" && pwd)
for program in cpack dpkg-deb dpkg; do
  command -v "$program" >/dev/null 2>&1 || { echo "check-deb: $program is needed" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
faults=0
fault() {
  echo "FAULT: $*" >&2
  faults=$((faults + 1))
}

# A package left from an earlier version must not be taken for this one.
rm -f "$build"/hdrmend_*.deb
if ! (cd "$build" && cpack -G DEB) >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "check-deb: cpack -G DEB failed" >&2
  exit 1
fi
debs=("$build"/hdrmend_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "check-deb: cpack made no hdrmend_*.deb" >&2; exit 1; }
deb=${debs[0]}
echo "== $deb"

dpkg-deb -c "$deb" | awk '{print $NF}' >"$scratch/contents"
# Each entry the package must hold, as an extended regular expression.
required=(
  '^\./usr/bin/hdrmend$'
  '^\./usr/share/man/man1/hdrmend\.1(\.gz)?$'
  '^\./usr/lib/(.+/)?libhdrmend_foundation\.a$'
  '^\./usr/lib/(.+/)?libhdrmend_system\.a$'
  '^\./usr/lib/(.+/)?libhdrmend_streams\.a$'
  '^\./usr/lib/(.+/)?libhdrmend_rawdata\.a$'
  '^\./usr/include/hdrmend/rawdata/ZrRDFileReader\.h$'
  '^\./usr/lib/(.+/)?cmake/hdrmend/hdrmendConfig\.cmake$'
  '^\./usr/lib/(.+/)?cmake/hdrmend/hdrmendTargets\.cmake$'
  '^\./usr/lib/(.+/)?pkgconfig/hdrmend\.pc$'
)
for pattern in "${required[@]}"; do
  grep -Eq "$pattern" "$scratch/contents" || fault "the package holds nothing matching $pattern"
done
while IFS= read -r library; do
  fault "the packaged library $library lacks the hdrmend prefix"
done < <(grep -E '/lib[^/]*\.(a|so(\.[0-9.]+)?)$' "$scratch/contents" | grep -Ev '/libhdrmend_[^/]*$' || true)

field() { dpkg-deb -f "$deb" "$1"; }
[ -n "$(field Maintainer)" ] || fault "no Maintainer field"
[ -n "$(field Description)" ] || fault "no Description field"
[[ ", $(field Depends), " == *", gzip"[,\ ]* ]] || fault "Depends does not name gzip: $(field Depends)"
for package in pigz ncompress libjpeg-turbo-progs; do
  [[ ", $(field Recommends), " == *", $package"[,\ ]* ]] ||
    fault "Recommends does not name $package: $(field Recommends)"
done

# The packaged command, run where dpkg -x put it.
dpkg -x "$deb" "$scratch/root"
version=$(field Version)
status=0
"$scratch/root/usr/bin/hdrmend" -v >"$scratch/out" 2>"$scratch/err" || status=$?
[ "$status" -eq 0 ] || fault "the extracted hdrmend -v exited with status $status"
[ ! -s "$scratch/out" ] || fault "the extracted hdrmend -v wrote to standard output: $(cat "$scratch/out")"
grep -qx hdrmend "$scratch/err" && grep -qx "Release ${version%%-*}" "$scratch/err" ||
  fault "the extracted hdrmend -v printed no banner of version $version: $(cat "$scratch/err")"
pc=$(find "$scratch/root" -name hdrmend.pc | head -1)
[ -n "$pc" ] && grep -qx 'prefix=/usr' "$pc" || fault "the packaged hdrmend.pc does not say prefix=/usr"

if [ "$faults" -ne 0 ]; then
  echo "check-deb: $faults fault(s) in $deb" >&2
  exit 1
fi
cat "$scratch/err"
echo "check-deb: $(basename "$deb") holds what it should and its command runs"
