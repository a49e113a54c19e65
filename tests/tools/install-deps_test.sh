#!/usr/bin/env bash
# Runs tools/install-deps on made-up machines and checks, case by case, what
# it installs and through what, what it says and its exit status. A machine
# is a PATH of stand-in commands and a file tree (GoogleTest, clang's
# runtime); its apt-get logs every call and "installs" a package by adding
# the stand-ins for that package's commands and files, failing for packages
# the machine's release is said to lack.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/tools/install-deps
scratch=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-deps.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
bash_path=$(command -v bash)
everything="g++ cmake make gzip libgtest-dev pkg-config pigz ncompress"

# What each package brings on Debian: commands (bin:) and files (file:).
provides() {
  case $1 in
    g++) echo bin:g++ ;;
    cmake) echo bin:cmake bin:ctest ;;
    make) echo bin:make ;;
    gzip) echo bin:gzip bin:gunzip ;;
    libgtest-dev) echo file:usr/include/gtest/gtest.h file:usr/lib/x86_64-linux-gnu/libgtest.a ;;
    gtest-headers-only) echo file:usr/include/gtest/gtest.h ;;
    pkg-config) echo bin:pkg-config ;;
    pigz) echo bin:pigz ;;
    ncompress) echo bin:compress ;;
    lintian) echo bin:lintian ;;
    man-db) echo bin:man ;;
    xfsprogs) echo bin:mkfs.xfs ;;
    btrfs-progs) echo bin:mkfs.btrfs ;;
    clang) echo bin:clang++ ;;
    libclang-rt-14-dev) echo file:rt/libclang_rt.fuzzer-x86_64.a ;;
  esac
}

# Puts a package's commands into $FAKE_BIN and its files under $FAKE_ROOT.
# clang++ answers the two questions the script asks it.
install_package() {
  local item
  for item in $(provides "$1"); do
    case $item in
      bin:clang++)
        printf '#!%s\ncase $1 in --print-runtime-dir) echo "$FAKE_ROOT/rt" ;; -dumpversion) echo 14.0.6 ;; esac\n' \
          "$BASH" >"$FAKE_BIN/clang++"
        chmod +x "$FAKE_BIN/clang++"
        ;;
      bin:*)
        printf '#!%s\nexit 0\n' "$BASH" >"$FAKE_BIN/${item#bin:}"
        chmod +x "$FAKE_BIN/${item#bin:}"
        ;;
      file:*)
        mkdir -p "$FAKE_ROOT/$(dirname "${item#file:}")"
        : >"$FAKE_ROOT/${item#file:}"
        ;;
    esac
  done
}

write_stand_ins() {
  local tools=$1
  {
    printf '#!%s\n' "$bash_path"
    declare -f provides install_package
    cat <<'EOF'
echo "${SUDO_USED:+sudo }apt-get $* (${DEBIAN_FRONTEND:-interactive})" >>"$FAKE_LOG"
[ "$1" = update ] && exit 0
[ "$1" = install ] || exit 100
shift
packages=()
for argument; do
  [[ $argument == -* ]] || packages+=("$argument")
done
for package in "${packages[@]}"; do
  if [[ " $UNAVAILABLE " == *" $package "* ]]; then
    echo "E: Unable to locate package $package" >&2
    exit 100
  fi
done
for package in "${packages[@]}"; do install_package "$package"; done
EOF
  } >"$tools/apt-get"
  printf '#!%s\nSUDO_USED=1 exec "$@"\n' "$bash_path" >"$tools/sudo"
  printf '#!%s\necho "$FAKE_UID"\n' "$bash_path" >"$tools/id"
  chmod +x "$tools/apt-get" "$tools/sudo" "$tools/id"
}

# The commands every machine has, whatever else it lacks.
base=$scratch/base
mkdir -p "$base"
for tool in bash env sed cat chmod mkdir dirname; do
  ln -s "$(command -v "$tool")" "$base/$tool"
done
tools=$scratch/tools
mkdir -p "$tools"
write_stand_ins "$tools"

failures=0
count=0
# One made-up machine per line:
#   name | packages present | uid | with sudo | with apt-get | packages the
#   release lacks | options | exit status | apt-get calls, ';' between them |
#   text the output must hold
cases=(
  "complete machine|$everything|0|no|yes||--|0||nothing to do"
  "fresh machine as root||0|no|yes||--|0|apt-get update -qq (noninteractive);apt-get install -y -qq g++ cmake make gzip libgtest-dev pkg-config pigz ncompress (noninteractive)|everything hdrmend needs is installed."
  "user with sudo|g++ cmake make gzip libgtest-dev pkg-config ncompress|1000|yes|yes||--|0|sudo apt-get update -qq (noninteractive);sudo apt-get install -y -qq pigz (noninteractive)|installing pigz"
  "user without sudo|g++ cmake gzip libgtest-dev pkg-config pigz ncompress|1000|no|yes||--|1||as root, run: apt-get install make"
  "no apt-get, filters missing|g++ cmake make gzip libgtest-dev pkg-config|0|no|no||--|0||ncompress"
  "no apt-get, compiler missing|cmake make gzip libgtest-dev pkg-config pigz ncompress|0|no|no||--|1||cannot be built without"
  "release lacks one package|g++ make gzip libgtest-dev pkg-config ncompress|0|no|yes|pigz|--|0|apt-get update -qq (noninteractive);apt-get install -y -qq cmake pigz (noninteractive);apt-get install -y -qq cmake (noninteractive);apt-get install -y -qq pigz (noninteractive)|pigz "
  "release lacks the compiler|cmake make gzip libgtest-dev pkg-config pigz ncompress|0|no|yes|g++|--|1|apt-get update -qq (noninteractive);apt-get install -y -qq g++ (noninteractive)|cannot be built without"
  "check only|g++ make gzip libgtest-dev pkg-config pigz ncompress|0|no|yes||--check|1||cmake"
  "GoogleTest headers without the library|g++ cmake make gzip gtest-headers-only pkg-config pigz ncompress|0|no|yes||--|0|apt-get update -qq (noninteractive);apt-get install -y -qq libgtest-dev (noninteractive)|installing libgtest-dev"
  "clang and its runtime|$everything|0|no|yes||--with-clang|0|apt-get update -qq (noninteractive);apt-get install -y -qq clang (noninteractive);apt-get install -y -qq libclang-rt-14-dev (noninteractive)|everything hdrmend needs is installed."
  "lintian for the packages' check|$everything man-db|0|no|yes||--with-lintian|0|apt-get update -qq (noninteractive);apt-get install -y -qq lintian (noninteractive)|everything hdrmend needs is installed."
  "file system tools|$everything btrfs-progs|0|no|yes||--with-filesystems|0|apt-get update -qq (noninteractive);apt-get install -y -qq xfsprogs (noninteractive)|installing xfsprogs"
  "clang without its runtime|$everything clang|0|no|yes||--with-clang|0|apt-get update -qq (noninteractive);apt-get install -y -qq libclang-rt-14-dev (noninteractive)|installing libclang-rt-14-dev"
)
for line in "${cases[@]}"; do
  IFS='|' read -r name present uid with_sudo with_apt lacking options status calls text <<<"$line"
  count=$((count + 1))
  machine=$scratch/machine$count
  mkdir -p "$machine/bin" "$machine/root"
  [ "$with_apt" = yes ] && ln -s "$tools/apt-get" "$machine/bin/apt-get"
  [ "$with_sudo" = yes ] && ln -s "$tools/sudo" "$machine/bin/sudo"
  ln -s "$tools/id" "$machine/bin/id"
  : >"$machine/log"
  export FAKE_BIN=$machine/bin FAKE_ROOT=$machine/root FAKE_LOG=$machine/log FAKE_UID=$uid
  export UNAVAILABLE=$lacking
  for package in $present; do install_package "$package"; done
  args=()
  [ "$options" = -- ] || args=("$options")
  actual_status=0
  output=$(PATH=$machine/bin:$base HDRMEND_DEPS_ROOT=$machine/root "$bash_path" "$script" \
    "${args[@]}" 2>&1) || actual_status=$?
  expected_log=$(tr ';' '\n' <<<"$calls")
  actual_log=$(cat "$machine/log")
  problems=()
  [ "$actual_status" = "$status" ] || problems+=("exit status $actual_status, not $status")
  [ "$actual_log" = "$expected_log" ] || problems+=("apt-get calls:
$actual_log
not:
$expected_log")
  [[ $output == *"$text"* ]] || problems+=("the output lacks \"$text\"")
  if [ ${#problems[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAILED: $name"
    printf '  %s\n' "${problems[@]}"
    echo "  output:"
    sed 's/^/    /' <<<"$output"
  fi
done
echo "install-deps: $((count - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
