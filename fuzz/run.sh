#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for
# SECONDS, starting from the seeds in fuzz/corpus/<name>. Fails when any
# target finds a crash, a sanitizer report, a leak, a timeout or an
# out-of-memory; the input that did it is kept in build-fuzz/artifacts/.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]    (TARGET as in fuzz_str or str)
# The CI runs every target for 30 seconds; longer campaigns use the same
# script with a larger SECONDS, one target at a time on a busy machine.
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HDRMEND_FUZZ_BUILD:-$root/build-fuzz}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz/run.sh: clang++ is needed for libFuzzer" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DHDRMEND_BUILD_FUZZ=ON \
  -DHDRMEND_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

if [ $# -eq 0 ]; then
  targets=()
  for exe in "$build"/fuzz/fuzz_*; do
    [ -x "$exe" ] && targets+=("$(basename "$exe")")
  done
else
  targets=("${@/#/fuzz_}")
  targets=("${targets[@]/#fuzz_fuzz_/fuzz_}")
fi

# A small quarantine keeps the resident size far below the memory limit over
# millions of runs; leaks are still checked after every input.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  work=$build/corpus/$name
  artifacts=$build/artifacts/$name
  mkdir -p "$work" "$artifacts"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds+=("$root/fuzz/corpus/$name")
  options=(-max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$artifacts/")
  case $name in
    rdreader | rdset | timecode) options+=(-dict="$root/fuzz/rawdata.dict") ;;
  esac
  [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
  log=$build/fuzz-$name.log
  echo "== $target for ${seconds}s"
  # New inputs go to the work corpus; the committed seeds are only read.
  if "$build/fuzz/$target" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   ${runs:-?} executions, no finding"
  else
    echo "   FINDING; log in $log, input in $artifacts/" >&2
    grep -m5 -E 'ERROR|check failed|runtime error|SUMMARY' "$log" >&2 || tail -20 "$log" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz/run.sh: findings in ${failed[*]}" >&2
  exit 1
fi
