#!/usr/bin/env bash
# Writes the seed corpora under fuzz/corpus/ with the raw data generator.
# Usage: fuzz/make-corpus.sh RDGEN
# The seeds are committed; run this again only to change them.
set -euo pipefail
rdgen=${1:?usage: fuzz/make-corpus.sh path/to/rdgen}
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus

rm -rf "$corpus"
mkdir -p "$corpus"/{rdreader,rdset,rddamage,rdsalvage,rdcopy,timecode,str,wordwrap}

# Raw data files: small, in both encodings, with and without timecodes, with
# headers that claim too many or too few frames, odd numbering, and cut short
# in the header, in a frame header and in a frame body.
raw=$corpus/rdreader
n=0
gen() {
  n=$((n + 1))
  "$rdgen" "$@" "$raw/seed$(printf %02d $n)"
}
for format in binary text; do
  gen --format $format --frames 3 --cameras 2 --max-globs 3
  gen --format $format --frames 4 --cameras 1 --max-globs 2 --timecodes
  gen --format $format --frames 2 --cameras 3 --max-globs 1 --timecodes=23:59:59:28/30
  gen --format $format --frames 3 --cameras 2 --max-globs 2 --header-offset 2
  gen --format $format --frames 3 --cameras 2 --max-globs 2 --header-offset -1
  gen --format $format --frames 2 --cameras 0
  gen --format $format --frames 2 --cameras 1 --max-globs 2 --first-number 0
  gen --format $format --frames 0 --cameras 2
  gen --format $format --frames 2 --cameras 2 --min-globs 1 --max-globs 1 --seed 7
done
gen --format text --frames 2 --cameras 2 --max-globs 3 --text-decimals
# Cut short: binary header (the identification is 38 bytes, the counts 7),
# frame header and body; text likewise.
gen --format binary --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 20
gen --format binary --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 41
gen --format binary --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 50
gen --format binary --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 60
gen --format text --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 3
gen --format text --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 12
gen --format text --frames 2 --cameras 2 --max-globs 2 --timecodes --truncate 30
cp "$raw"/* "$corpus/rdset/"
# The damage target starts from the same seeds and from tails a crash leaves
# (zero bytes, white space, an end marker), with and without data behind them.
cp "$raw"/* "$corpus/rddamage/"
damage=$corpus/rddamage
{ cat "$raw/seed01"; head -c 64 /dev/zero; } > "$damage/seed40"
{ cat "$raw/seed01"; head -c 8 /dev/zero; printf '\001'; } > "$damage/seed41"
{ cat "$raw/seed01"; printf '\004\000\000\000\000'; } > "$damage/seed42"
{ cat "$raw/seed10"; printf '\n\000 \000\n'; head -c 32 /dev/zero; } > "$damage/seed43"
{ cat "$raw/seed10"; printf '0\n'; } > "$damage/seed44"
tr '\n' '\r' < "$raw/seed10" > "$damage/seed45"
{ cat "$raw/seed10"; printf '9 \000 01:02:03:04\n'; } > "$damage/seed46"
# The salvage target starts from the same damage.
cp "$damage"/* "$corpus/rdsalvage/"
# The copy target's first byte picks where the count may split.
for seed in "$raw"/*; do
  { printf '\020'; cat "$seed"; } > "$corpus/rdcopy/$(basename "$seed")"
done

# Timecodes in every form the parser takes, and near misses.
tc=$corpus/timecode
i=0
for text in "01:02:03:04" "00:00:00:00" "23:59:59:29/30" "12:34:56;12" "01:00:00:00.5/25" \
  "1:2:3:4" "00:00:00:24/25" "10:00:00;02.25/30" "24:00:00:00" "01:02:03" "01:02:03:04/" \
  "01:02:03:04/31" " 01:02:03:04" "01:02:03:04x" "01:02:03:04.1e3" "-1:00:00:00"; do
  i=$((i + 1))
  printf '%s' "$text" > "$tc/seed$(printf %02d $i)"
done

# Message-like texts for the word wrap; the first two bytes pick the width
# and the tab width.
ww=$corpus/wordwrap
printf '\x46\x08Unable to read raw data file "/some/where/a rather long name.raw".\nThe last successfully read frame was 12.' > "$ww/seed01"
printf '\x0a\x04a\tb\t\tc  d\n\nlongwordlongwordlongword e f\n' > "$ww/seed02"
printf '\x00\x01 \n \t\n\n' > "$ww/seed03"

# String scripts are bytes read as operations; a few arbitrary ones start it.
st=$corpus/str
printf 'hello world\nsecond line\tand\ttokens' > "$st/seed01"
head -c 200 "$raw/seed01" > "$st/seed02"
printf '\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15' > "$st/seed03"
