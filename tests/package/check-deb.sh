#!/usr/bin/env bash
# Makes the Debian packages of a build with `cpack -G DEB` and checks them:
#   - hdrmend holds the command, its man page and the documents, and nothing
#     of the libraries; libhdrmend-dev every library (each named after the
#     project) in the multiarch folder, the headers and both package files
#     (CMake and pkg-config); each has its copyright and changelog.Debian.gz;
#   - both have one version, a maintainer and a description; hdrmend depends
#     on gzip and recommends pigz and ncompress;
#   - the command and the libraries are stripped;
#   - lintian finds no error, and each warning it gives is one the README
#     lists with the reason it stays;
#   - installed with dpkg into a scratch root, the command prints its
#     version and licence, man shows its page, a program builds against the
#     libraries with find_package(hdrmend) and one with pkg-config; removed
#     with dpkg, nothing of them is left.
#
#   tests/package/check-deb.sh BUILD_DIR
#
# Needs cpack, dpkg, lintian and man (tools/install-deps --with-lintian), and
# root, for dpkg. Exit status 0 when the packages pass, 1 otherwise, each
# fault named.
set -euo pipefail
build=$(cd "${1:?usage: tests/package/check-deb.sh BUILD_DIR}" && pwd)
sources=$(cd "$(dirname "$0")/../.." && pwd)
for program in cpack dpkg-deb dpkg lintian man readelf pkg-config; do
  command -v "$program" >/dev/null 2>&1 ||
    { echo "check-deb: $program is needed (tools/install-deps --with-lintian)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "check-deb: dpkg needs root to install into a scratch root" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
faults=0
fault() {
  echo "FAULT: $*" >&2
  faults=$((faults + 1))
}

# Packages left from an earlier version must not be taken for these.
rm -f "$build"/hdrmend_*.deb "$build"/libhdrmend-dev_*.deb
if ! (cd "$build" && cpack -G DEB) >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "check-deb: cpack -G DEB failed" >&2
  exit 1
fi
declare -A deb
for package in hdrmend libhdrmend-dev; do
  found=("$build/${package}"_*.deb)
  [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] ||
    { echo "check-deb: cpack made no ${package}_*.deb" >&2; exit 1; }
  deb[$package]=${found[0]}
  echo "== ${found[0]}"
  dpkg-deb -c "${found[0]}" | awk '{print $NF}' >"$scratch/$package.contents"
done

# Entries each package must hold, as extended regular expressions; the
# libraries in the multiarch folder, lib/<cpu>-<system>.
multiarch='usr/lib/[a-z0-9_]+-[a-z0-9_-]+'
declare -A required=(
  [hdrmend]='^\./usr/bin/hdrmend$
^\./usr/share/man/man1/hdrmend\.1\.gz$
^\./usr/share/doc/hdrmend/README\.md$'
  [libhdrmend-dev]="^\./$multiarch/libhdrmend_foundation\.a$
^\./$multiarch/libhdrmend_system\.a$
^\./$multiarch/libhdrmend_streams\.a$
^\./$multiarch/libhdrmend_rawdata\.a$
^\./usr/include/hdrmend/rawdata/ZrRDFileReader\.h$
^\./$multiarch/cmake/hdrmend/hdrmendConfig\.cmake$
^\./$multiarch/cmake/hdrmend/hdrmendTargets\.cmake$
^\./$multiarch/pkgconfig/hdrmend\.pc$"
)
for package in hdrmend libhdrmend-dev; do
  contents=$scratch/$package.contents
  while IFS= read -r pattern; do
    grep -Eq "$pattern" "$contents" || fault "$package holds nothing matching $pattern"
  done <<<"${required[$package]}
^\./usr/share/doc/$package/copyright$
^\./usr/share/doc/$package/changelog\.Debian\.gz$"
  grep -q 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    <(dpkg-deb --fsys-tarfile "${deb[$package]}" | tar -xO "./usr/share/doc/$package/copyright") ||
    fault "the copyright file of $package is not in the machine-readable format"
done
if grep -Eq '/(include|lib)/' "$scratch/hdrmend.contents"; then fault "hdrmend holds parts of the libraries"; fi
if grep -Eq '/(bin|man)/' "$scratch/libhdrmend-dev.contents"; then
  fault "libhdrmend-dev holds parts of the command"
fi
while IFS= read -r library; do
  fault "the packaged library $library lacks the hdrmend prefix"
done < <(grep -E '/lib[^/]*\.(a|so(\.[0-9.]+)?)$' "$scratch/libhdrmend-dev.contents" |
  grep -Ev '/libhdrmend_[^/]*$' || true)

field() { dpkg-deb -f "${deb[$1]}" "$2"; }
version=$(field hdrmend Version)
[ "$(field libhdrmend-dev Version)" = "$version" ] ||
  fault "the packages differ in version: $version and $(field libhdrmend-dev Version)"
for package in hdrmend libhdrmend-dev; do
  [ -n "$(field "$package" Maintainer)" ] || fault "$package has no Maintainer field"
  [ -n "$(field "$package" Description)" ] || fault "$package has no Description field"
done
[[ ", $(field hdrmend Depends), " == *", gzip"[,\ ]* ]] ||
  fault "hdrmend's Depends does not name gzip: $(field hdrmend Depends)"
[ "$(field hdrmend Recommends)" = "pigz, ncompress" ] ||
  fault "hdrmend recommends \"$(field hdrmend Recommends)\", not \"pigz, ncompress\""

# Stripped: the command of every symbol, the archives of their debug sections.
mkdir "$scratch/extracted"
for package in hdrmend libhdrmend-dev; do dpkg -x "${deb[$package]}" "$scratch/extracted"; done
while IFS= read -r -d '' binary; do
  case $binary in
    *.a) unstripped='\] \.debug_' ;;  # an archive keeps the symbols linking needs
    *) unstripped='\] \.(debug_|symtab)' ;;
  esac
  if readelf -S --wide "$binary" | grep -Eq "$unstripped"; then
    fault "${binary#"$scratch"/extracted} is not stripped"
  fi
done < <(find "$scratch/extracted" -type f \( -name '*.a' -o -path '*/bin/*' \) -print0)

# lintian: no error; every warning listed in the README.
lintian --fail-on error "${deb[hdrmend]}" "${deb[libhdrmend-dev]}" >"$scratch/lintian" 2>&1 ||
  fault "lintian reports errors"
grep -v '^running with root privileges' "$scratch/lintian" >&2 || true
while IFS= read -r tag; do
  grep -q "\`$tag\`" "$sources/README.md" || fault "lintian warns of $tag, which the README does not list"
done < <(sed -nE 's/^W: [^ ]+: ([a-z0-9-]+).*/\1/p' "$scratch/lintian" | sort -u)

# --- Installed with dpkg into a scratch root, used, removed. ----------------
# dpkg installs into any root that holds its database; the packages depend
# on the machine's libraries, which such a root lacks.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
: >"$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --force-depends --log=/dev/null "$@"; }
if ! dpkg_root -i "${deb[hdrmend]}" "${deb[libhdrmend-dev]}" >"$scratch/dpkg.log" 2>&1; then
  cat "$scratch/dpkg.log" >&2
  fault "dpkg could not install the packages"
fi
status=0
"$root/usr/bin/hdrmend" --version >"$scratch/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fault "the installed hdrmend --version exited with status $status"
grep -qw "${version%%-*}" "$scratch/out" && grep -q 'MIT License' "$scratch/out" ||
  fault "the installed hdrmend --version names not version ${version%%-*} and the licence: $(cat "$scratch/out")"
"$root/usr/bin/hdrmend" -v 2>"$scratch/err" || fault "the installed hdrmend -v failed"
grep -qx "Release ${version%%-*}" "$scratch/err" ||
  fault "the installed hdrmend -v printed no banner of version $version: $(cat "$scratch/err")"
MANPATH=$root/usr/share/man MANWIDTH=200 man -P cat hdrmend >"$scratch/man" 2>&1 ||
  fault "man hdrmend failed: $(head -3 "$scratch/man")"
grep -q "hdrmend ${version%%-*}" "$scratch/man" && grep -q 'MIT License' "$scratch/man" ||
  fault "man hdrmend shows no page of version ${version%%-*} naming the licence"
"$sources/tests/install/consumers.sh" "$root/usr" c++ "" "$root" ||
  fault "a program could not use the installed libraries"

if ! dpkg_root -r libhdrmend-dev hdrmend >"$scratch/dpkg.log" 2>&1; then
  cat "$scratch/dpkg.log" >&2
  fault "dpkg could not remove the packages"
fi
left=$(cd "$root" && find . -mindepth 1 ! -path './var' ! -path './var/*')
[ -z "$left" ] || fault "dpkg -r left behind: $left"

if [ "$faults" -ne 0 ]; then
  echo "check-deb: $faults fault(s) in the packages" >&2
  exit 1
fi
cat "$scratch/out"
echo "check-deb: $(basename "${deb[hdrmend]}") and $(basename "${deb[libhdrmend-dev]}") hold what they should," \
  "pass lintian, install, work and uninstall"
