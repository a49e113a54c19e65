#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for
# SECONDS, starting from the seeds in fuzz/corpus/<name>. Fails when any
# target finds a crash, a sanitizer report, a leak, a timeout or an
# out-of-memory; the input that did it is kept in build-fuzz/artifacts/.
#
# Usage: fuzz/run.sh [--runs N] SECONDS [TARGET...]
# TARGET as in fuzz_str or str; all by default. SECONDS 0 means no time limit,
# and --runs N stops each target after N executions. The CI runs every target
# for 30 seconds; a long campaign runs, say, `fuzz/run.sh --runs 10000000 0
# str`, one target at a time on a busy machine. The corpus each run grows is
# kept in build-fuzz/corpus/ and picked up by the next.
set -euo pipefail
runs=-1
if [ "${1:-}" = --runs ]; then
  runs=${2:?usage: fuzz/run.sh [--runs N] SECONDS [TARGET...]}
  shift 2
fi
seconds=${1:?usage: fuzz/run.sh [--runs N] SECONDS [TARGET...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${HDRMEND_FUZZ_BUILD:-$root/build-fuzz}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz/run.sh: clang++ is needed for libFuzzer" >&2
  exit 1
fi
mkdir -p "$build"
if ! { CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DHDRMEND_BUILD_FUZZ=ON \
         -DHDRMEND_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  tail -30 "$build/build.log" >&2
  echo "fuzz/run.sh: the fuzz build failed; see $build/build.log" >&2
  exit 1
fi

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
  options=(-max_total_time="$seconds" -runs="$runs" -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$artifacts/")
  # The longest input each target takes; longer ones would be mutated in vain.
  case $name in
    rdreader | rdset | rddamage | rdsalvage | rdcopy) options+=(-max_len=65536 -dict="$root/fuzz/rawdata.dict") ;;
    rdbuffering) options+=(-dict="$root/fuzz/rawdata.dict") ;;
    timecode) options+=(-max_len=4096 -dict="$root/fuzz/rawdata.dict") ;;
    wordwrap) options+=(-max_len=4096) ;;
    str) options+=(-max_len=8192) ;;
  esac
  [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
  log=$build/fuzz-$name.log
  echo "== $target for ${seconds}s (0: no limit), at most $runs runs (-1: no limit)"
  # New inputs go to the work corpus; the committed seeds are only read.
  if "$build/fuzz/$target" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
    done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   ${done_runs:-?} executions, no finding"
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
