#!/usr/bin/env bash
# Repairs a copy of the bundled example recording, whose header claims 15
# frames while it holds 12, and runs the command once more to show that the
# counts now agree.
#
#   examples/repair-example.sh [path/to/hdrmend]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
hdrmend=${1:-$here/../build/app/hdrmend}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$here/take1.raw" "$work/take1.raw"
echo "== hdrmend take1.raw (a copy of examples/take1.raw)" >&2
"$hdrmend" "$work/take1.raw"
echo "== hdrmend take1.raw, once more" >&2
"$hdrmend" "$work/take1.raw"
