#!/usr/bin/env bash
# Times hdrmend against cp, a durable copy and gzip -9 on large generated
# recordings and prints a markdown table of the ratios, for
# doc/PERFORMANCE.md.
#
# Usage: bench/run.sh [--runs N] [--size-mb MB] [--gz-size-mb MB] [--keep] [--xfs-only]
#
# Builds hdrmend and rdgen in Release (build-bench, or $HDRMEND_BENCH_BUILD),
# writes the recordings under a temporary directory in $TMPDIR (about 6.5
# times --size-mb of free space is needed, 6.5 GB by default) and removes it
# at the end unless --keep is given. Every job runs N times (5 by default),
# interleaved with the job it is measured against, so that both see the same
# machine: the ratio of each run is taken pair by pair and the table shows
# the medians. The files are read once beforehand, so everything runs from
# the page cache.
#
# The recordings have 8 cameras, 0 to 20 globs per camera and timecodes, as
# rdgen writes them. The jobs:
#   count      hdrmend on a recording whose header is right (it only counts)
#   repair     hdrmend on a copy whose header claims one frame more (it counts,
#              writes the corrected copy, flushes it to disk and renames it)
#   salvage    hdrmend --salvage on a copy with a damaged stretch of 1 MB of
#              random bytes in the middle (it plans, copies the frames on both
#              sides, keeps the original as a hard link, flushes, renames)
#   cp         cp FILE copy
#   durable    cp FILE copy && sync copy: the copy a repair makes, flushed to
#              disk as the repair flushes it; the yardstick of the repairs
#   replacing  the durable copy, then mv copy FILE: also frees the blocks of
#              the file replaced, as a repair's rename does
#   gzip -9    gzip -9 -c FILE > out, FILE the uncompressed recording that
#              the ".gz" repair reads, decompresses, and writes compressed; the
#              ".gz" repair runs on both cores (with pigz where installed), and
#              once more on one core (taskset -c 0) for the table
#   XFS        as root, with mkfs.xfs and loop devices, on an XFS with reflink
#              made on a file in the scratch directory and loop-mounted: the
#              repair (which clones the recording there) against the durable
#              copy on that file system (cp --reflink=never, since cp would
#              clone too), and the room each takes while a hard link keeps
#              the recording; --xfs-only runs these rows alone
# Peak resident memory (/usr/bin/time) is taken from the count and the repair
# of a 10 MB and of the large recordings.
set -euo pipefail

runs=5
size_mb=1000
gz_size_mb=100
keep=0
xfs_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --size-mb) size_mb=$2; shift 2 ;;
    --gz-size-mb) gz_size_mb=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --xfs-only) xfs_only=1; shift ;;
    *) echo "usage: bench/run.sh [--runs N] [--size-mb MB] [--gz-size-mb MB] [--keep] [--xfs-only]" >&2
       exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
build=${HDRMEND_BENCH_BUILD:-$root/build-bench}

if [ ! -x /usr/bin/time ]; then
  echo "bench: installing the Debian package 'time' for /usr/bin/time" >&2
  apt-get install -y time >/dev/null
fi

echo "bench: building hdrmend and rdgen in $build" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DHDRMEND_BUILD_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j2 --target hdrmend rdgen >/dev/null
hdrmend=$build/app/hdrmend
rdgen=$build/tools/rdgen

work=$(mktemp -d "${TMPDIR:-/tmp}/hdrmend-bench.XXXXXX")
xfs=$work/xfs
xfs_device=""
cleanup() {
  if [ -n "$xfs_device" ]; then
    umount "$xfs" || umount -l "$xfs"
    losetup -d "$xfs_device"
  fi
  [ "$keep" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

# Whether the XFS rows can run, and why not.
PATH=$PATH:/usr/sbin:/sbin
xfs_why=""
if [ "$(id -u)" != 0 ]; then
  xfs_why="not root (a loop device and a mount need root)"
elif ! command -v mkfs.xfs >/dev/null || ! command -v losetup >/dev/null; then
  xfs_why="mkfs.xfs or losetup is not installed (tools/install-deps --with-filesystems)"
elif [ ! -e /dev/loop-control ]; then
  xfs_why="no loop devices here"
fi
# The XFS holds a recording, the repair's copy of it and the durable copy.
xfs_kb=$((size_mb * 1024 * 5 / 2 + 400 * 1024))
need_kb=$((size_mb * 1024 * 13 / 2 + gz_size_mb * 1024 * 4))
[ "$xfs_only" = 1 ] && need_kb=$((size_mb * 1024 * 2))
[ -z "$xfs_why" ] && need_kb=$((need_kb + xfs_kb))
free_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt "$need_kb" ]; then
  echo "bench: $work has $((free_kb / 1024)) MB free, $((need_kb / 1024)) MB are needed" >&2
  exit 1
fi

# Frames per megabyte of each encoding for these settings, measured once.
bin_frames=$((size_mb * 2890))
# Text frame counts end in 0; see wrong_copy().
txt_frames=$((size_mb * 587 / 10 * 10))
gz_bin_frames=$((gz_size_mb * 2890))
gz_txt_frames=$((gz_size_mb * 587 / 10 * 10))
small_bin_frames=$((10 * 2890))
small_txt_frames=$((10 * 587 / 10 * 10))
gen=(--cameras 8 --min-globs 0 --max-globs 20 --timecodes)

echo "bench: writing the recordings in $work" >&2
"$rdgen" --format binary --frames "$bin_frames" "${gen[@]}" "$work/big.bin"
"$rdgen" --format text --frames "$txt_frames" "${gen[@]}" "$work/big.txt"
if [ "$xfs_only" = 0 ]; then
  "$rdgen" --format binary --frames "$small_bin_frames" "${gen[@]}" "$work/small.bin"
  "$rdgen" --format text --frames "$small_txt_frames" "${gen[@]}" "$work/small.txt"
  for enc in bin txt; do
    frames=$gz_bin_frames
    format=binary
    if [ $enc = txt ]; then frames=$gz_txt_frames; format=text; fi
    "$rdgen" --format $format --frames "$frames" "${gen[@]}" "$work/mid.$enc"
    # The header claims one frame more, so that the repair writes a copy.
    "$rdgen" --format $format --frames "$frames" --header-offset 1 "${gen[@]}" "$work/wrong.$enc.gz"
  done
fi

# Makes $2 a copy of recording $1 whose header claims one frame more.
wrong_copy() {
  cp "$1" "$2"
  local frames
  if [ "$(head -c 1 "$1")" = K ]; then
    # Binary: the frame count is 4 bytes little-endian at offset 34.
    frames=$(od -An -t u4 -j 34 -N 4 "$1" | tr -d ' ')
    frames=$((frames + 1))
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((frames & 255)) $(((frames >> 8) & 255)) \
      $(((frames >> 16) & 255)) $(((frames >> 24) & 255)))" |
      dd of="$2" bs=1 seek=34 conv=notrunc status=none
  else
    # Text: the second line; a number ending in 0 keeps its length when 1 is
    # added.
    frames=$(sed -n 2p "$1")
    case "$frames" in *0) ;; *) echo "bench: text frame count $frames does not end in 0" >&2; exit 1 ;; esac
    local at=$(($(head -n 1 "$1" | wc -c)))
    printf '%s' "$((frames + 1))" | dd of="$2" bs=1 seek="$at" conv=notrunc status=none
  fi
}

# Runs a command and prints its wall time in seconds.
timed() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A times
record() { times[$1]+="$2 "; }

repair_run() {
  wrong_copy "$1" "$work/work"
  sync
  timed "$hdrmend" "$work/work"
  rm -f "$work/work"
  sync
}

gz_repair_run() {
  local file=$1
  shift
  cp "$file" "$work/work.gz"
  sync
  timed "$@" "$hdrmend" "$work/work.gz"
  rm -f "$work/work.gz"
}

# The yardstick of a repair: the copy it makes, flushed to disk. It copies
# the very file the repair gets, made the same way just before, so that both
# start with the disk in the same state (a fresh gigabyte written and flushed
# slows the next one down on some machines).
durable_run() {
  wrong_copy "$1" "$work/work"
  sync
  timed sh -c "cp '$work/work' '$work/copy' && sync '$work/copy'"
  rm -f "$work/copy" "$work/work"
  sync
}

# The same copy put in the place of the file it copies, as a repair puts its
# copy: the file system frees the replaced file's blocks too, which costs as
# much as a good part of the copy where it discards them (mount -o discard).
replacing_run() {
  wrong_copy "$1" "$work/work"
  sync
  timed sh -c "cp '$work/work' '$work/copy' && sync '$work/copy' && mv '$work/copy' '$work/work'"
  rm -f "$work/work"
  sync
}

salvage_run() {
  cp "$1" "$work/work"
  sync
  timed "$hdrmend" --salvage "$work/work"
  rm -f "$work/work" "$work/work.orig"
}

# The free space of the XFS in KiB, once everything written is on its disk.
xfs_free_kb() {
  sync
  df -Pk "$xfs" | awk 'NR == 2 { print $4 }'
}

# The repair on the XFS, of a copy with a wrong header there, while a hard
# link keeps the recording, so that the room the repair's copy takes shows:
# prints the time and the KiB taken.
xfs_repair_run() {
  wrong_copy "$1" "$xfs/work"
  ln "$xfs/work" "$xfs/kept"
  local before seconds
  before=$(xfs_free_kb)
  seconds=$(timed "$hdrmend" "$xfs/work")
  echo "$seconds $((before - $(xfs_free_kb)))"
  rm -f "$xfs/work" "$xfs/kept"
  sync
}

# Its yardstick: the durable copy on the XFS, made the same way.
xfs_durable_run() {
  wrong_copy "$1" "$xfs/work"
  local before seconds
  before=$(xfs_free_kb)
  seconds=$(timed sh -c "cp --reflink=never '$xfs/work' '$xfs/copy' && sync '$xfs/copy'")
  echo "$seconds $((before - $(xfs_free_kb)))"
  rm -f "$xfs/work" "$xfs/copy"
  sync
}

xfs_measure() {
  [ -z "$xfs_why" ] || return 0
  echo "bench: making a loop-mounted XFS with reflink" >&2
  truncate -s "${xfs_kb}K" "$work/xfs.img"
  mkfs.xfs -q -m reflink=1 "$work/xfs.img"
  mkdir -p "$xfs"
  xfs_device=$(losetup --find --show "$work/xfs.img")
  mount -t xfs "$xfs_device" "$xfs"
  local run enc seconds kb
  for run in $(seq "$runs"); do
    echo "bench: XFS run $run of $runs" >&2
    for enc in bin txt; do
      for job in repair durable; do
        # Which of the pair goes first alternates from run to run.
        [ $((run % 2)) = 0 ] && job=$([ $job = repair ] && echo durable || echo repair)
        read -r seconds kb <<<"$("xfs_${job}_run" "$work/big.$enc")"
        record "xfs$job.$enc" "$seconds"
        record "xfs${job}kb.$enc" "$kb"
      done
    done
  done
}

# With --xfs-only, only the XFS rows run.
main_runs=$runs
main_encodings="bin txt"
[ "$xfs_only" = 1 ] && main_runs=0 main_encodings=""

# A damaged stretch of 1 MB of random bytes in the middle, for the salvage.
for enc in $main_encodings; do
  wrong_copy "$work/big.$enc" "$work/damaged.$enc"
  size=$(stat -c %s "$work/damaged.$enc")
  head -c 1048576 /dev/urandom |
    dd of="$work/damaged.$enc" bs=1M seek=$((size / 2 / 1048576)) conv=notrunc status=none
done

echo "bench: warming the page cache" >&2
cat "$work"/big.* >/dev/null
[ "$xfs_only" = 1 ] || cat "$work"/mid.* "$work"/wrong.* "$work"/damaged.* >/dev/null

for run in $(seq "$main_runs"); do
  echo "bench: run $run of $runs" >&2
  for enc in bin txt; do
    sync
    record "cp.$enc" "$(timed cp "$work/big.$enc" "$work/copy")"
    rm -f "$work/copy"
    sync
    record "count.$enc" "$(timed "$hdrmend" "$work/big.$enc")"
    # Which of a pair goes first alternates from run to run.
    if [ $((run % 2)) = 1 ]; then
      record "durable.$enc" "$(durable_run "$work/big.$enc")"
      record "repair.$enc" "$(repair_run "$work/big.$enc")"
    else
      record "repair.$enc" "$(repair_run "$work/big.$enc")"
      record "durable.$enc" "$(durable_run "$work/big.$enc")"
    fi
    record "replacing.$enc" "$(replacing_run "$work/big.$enc")"
    record "salvage.$enc" "$(salvage_run "$work/damaged.$enc")"
    record "gzip.$enc" "$(timed sh -c "gzip -9 -c '$work/mid.$enc' > '$work/out'")"
    rm -f "$work/out"
    record "gzrepair.$enc" "$(gz_repair_run "$work/wrong.$enc.gz")"
    record "gzip1.$enc" "$(timed taskset -c 0 sh -c "gzip -9 -c '$work/mid.$enc' > '$work/out'")"
    rm -f "$work/out"
    record "gzrepair1.$enc" "$(gz_repair_run "$work/wrong.$enc.gz" taskset -c 0)"
  done
done

xfs_measure

# Peak resident memory in KiB of hdrmend on a recording: the count, and the
# repair of a copy with a wrong header.
peak_kb() {
  local kb
  kb=$(/usr/bin/time -f %M "$hdrmend" "$1" 2>&1 >/dev/null | tail -n 1)
  wrong_copy "$1" "$work/work"
  local repair_kb
  repair_kb=$(/usr/bin/time -f %M "$hdrmend" "$work/work" 2>&1 >/dev/null | tail -n 1)
  rm -f "$work/work"
  [ "$repair_kb" -gt "$kb" ] && kb=$repair_kb
  echo "$kb"
}
small_kb=0
big_kb=0
for enc in $main_encodings; do
  kb=$(peak_kb "$work/small.$enc")
  [ "$kb" -gt "$small_kb" ] && small_kb=$kb
  kb=$(peak_kb "$work/big.$enc")
  [ "$kb" -gt "$big_kb" ] && big_kb=$kb
done

# One table row: job, goal ratio ("-" for none), the job's times, its
# baseline's times. The ratio is the median of the run-by-run ratios; the
# lowest and highest of them show the noise.
row() {
  local label=$1 goal=$2 job=$3 base=$4
  local job_times=(${times[$job]}) base_times=(${times[$base]})
  local ratios=""
  for i in "${!job_times[@]}"; do
    ratios+="$(awk -v a="${job_times[$i]}" -v b="${base_times[$i]}" 'BEGIN { printf "%.4f", a / b }') "
  done
  local job_median base_median ratio_median low high
  job_median=$(printf '%s\n' ${times[$job]} | median)
  base_median=$(printf '%s\n' ${times[$base]} | median)
  ratio_median=$(printf '%s\n' $ratios | median)
  low=$(printf '%s\n' $ratios | sort -g | head -n 1)
  high=$(printf '%s\n' $ratios | sort -g | tail -n 1)
  local pass="—" shown_goal="—"
  if [ "$goal" != - ]; then
    shown_goal="≤ $goal"
    pass=$(awk -v r="$ratio_median" -v g="$goal" 'BEGIN { print (r <= g) ? "yes" : "**no**" }')
  fi
  printf '| %s | %s | %.2f s | %.2f s | %.2f | %.2f–%.2f | %s |\n' "$label" "$shown_goal" \
    "$job_median" "$base_median" "$ratio_median" "$low" "$high" "$pass"
}

size_label="$((size_mb / 1000)) GB"
[ "$size_mb" -lt 1000 ] && size_label="$size_mb MB"
echo
echo "| job | goal (× baseline) | hdrmend | baseline | ratio | lowest–highest | met |"
echo "|---|---|---|---|---|---|---|"
if [ "$xfs_only" = 0 ]; then
  row "count, binary, $size_label (vs cp)" 0.5 count.bin cp.bin
  row "count, text, $size_label (vs cp)" 2.5 count.txt cp.txt
  row "repair, binary, $size_label (vs durable copy)" 1.25 repair.bin durable.bin
  row "repair, text, $size_label (vs durable copy)" 1.8 repair.txt durable.txt
  row "repair, binary, $size_label (vs durable copy replacing the file)" - repair.bin replacing.bin
  row "repair, text, $size_label (vs durable copy replacing the file)" - repair.txt replacing.txt
  row "salvage, 1 MB damaged, binary, $size_label (vs repair)" 3 salvage.bin repair.bin
  row "salvage, 1 MB damaged, text, $size_label (vs repair)" 3 salvage.txt repair.txt
  row "repair \".gz\", binary, $gz_size_mb MB, 2 cores (vs gzip -9)" 1.0 gzrepair.bin gzip.bin
  row "repair \".gz\", text, $gz_size_mb MB, 2 cores (vs gzip -9)" 1.0 gzrepair.txt gzip.txt
  row "repair \".gz\", binary, $gz_size_mb MB, 1 core (vs gzip -9)" - gzrepair1.bin gzip1.bin
  row "repair \".gz\", text, $gz_size_mb MB, 1 core (vs gzip -9)" - gzrepair1.txt gzip1.txt
  mem_pass=$(awk -v s="$small_kb" -v b="$big_kb" \
    'BEGIN { d = b - s; if (d < 0) d = -d; print (s <= 8192 && b <= 8192 && d <= 512) ? "yes" : "**no**" }')
  printf '| peak resident memory, 10 MB / %s | ≤ 8 MiB, the same | %.1f MiB | %.1f MiB | | | %s |\n' \
    "$size_label" "$(awk -v k="$small_kb" 'BEGIN { print k / 1024 }')" \
    "$(awk -v k="$big_kb" 'BEGIN { print k / 1024 }')" "$mem_pass"
fi
if [ -z "$xfs_why" ]; then
  row "repair, binary, $size_label, XFS with reflink (vs durable copy there)" 0.1 \
    xfsrepair.bin xfsdurable.bin
  row "repair, text, $size_label, XFS with reflink (vs durable copy there)" 0.4 \
    xfsrepair.txt xfsdurable.txt
  for enc in bin txt; do
    repair_kb=$(printf '%s\n' ${times[xfsrepairkb.$enc]} | median)
    durable_kb=$(printf '%s\n' ${times[xfsdurablekb.$enc]} | median)
    printf '| room taken, %s, %s, XFS with reflink (repair vs durable copy) | ≤ 1 MB | %.2f MB | %.0f MB | | | %s |\n' \
      "$([ $enc = bin ] && echo binary || echo text)" "$size_label" \
      "$(awk -v k="$repair_kb" 'BEGIN { print k / 1024 }')" \
      "$(awk -v k="$durable_kb" 'BEGIN { print k / 1024 }')" \
      "$(awk -v k="$repair_kb" 'BEGIN { print (k <= 1024) ? "yes" : "**no**" }')"
  done
else
  echo
  echo "The XFS rows did not run: $xfs_why."
fi
echo
echo "Medians of $runs runs; each ratio is taken within a run, then the median of the ratios."
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(df -PT "$work" | awk 'NR == 2 { print $2 }'), $(date +%Y-%m-%d)."
