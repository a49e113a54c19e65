#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own, or
# when a library's CMakeLists.txt links one. The layers, lowest first:
#   foundation <- system <- streams <- rawdata <- app
# The tests of a folder may use its layer and those below; tools and fuzz
# targets sit on top with the command.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
layers=(foundation system streams rawdata app)

rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

status=0
for folder in "${layers[@]}"; do
  own=$(rank "$folder")
  for dir in "$root/$folder" "$root/tests/$folder"; do
    [ -d "$dir" ] || continue
    while IFS=: read -r file line text; do
      target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
      theirs=$(rank "$target")
      # tools/ and support/ are helpers, not layers.
      [ "$theirs" -lt 0 ] && continue
      if [ "$theirs" -gt "$own" ]; then
        echo "${file#$root/}:$line: $folder includes $target, a layer above it" >&2
        status=1
      fi
    done < <(grep -Hn -E '^#include "[a-z]+/' "$dir"/*.h "$dir"/*.cc 2>/dev/null)
  done
  lists="$root/$folder/CMakeLists.txt"
  if [ -f "$lists" ] && [ "$folder" != app ]; then
    # hdrmend_library(<name> <libraries it links>...)
    for name in $(sed -nE 's/.*hdrmend_library\([a-z]+ *([^)]*)\).*/\1/p' "$lists"); do
      if [ "$(rank "$name")" -ge "$own" ]; then
        echo "${lists#$root/}: $folder links $name, which is not below it" >&2
        status=1
      fi
    done
  fi
done
[ $status -eq 0 ] && echo "every include and link points down the layers"
exit $status
