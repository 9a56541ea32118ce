#!/usr/bin/env bash
# Takes the picture of the dialog in docs/: runs torvane on an emulated
# camera under a virtual X server, presses "Update" once and saves the
# window as it stands after the update.
#
#   tools/screenshot.sh [BUILD_DIR] [OUTPUT_PNG]
#   (defaults: build, docs/torvane-dialog.png; needs xvfb-run)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
output=${2:-docs/torvane-dialog.png}
program="$build/src/app/frontends/qt/torvane"
if [[ ! -x "$program" ]]; then
  echo "screenshot.sh: $program not found; build the target torvane first" >&2
  exit 1
fi
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
rm -f "$output"
TORVANE_SCREENSHOT="$output" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 800x600x24" "$program" --simulate
[[ -s "$output" ]] || { echo "screenshot.sh: no picture was written" >&2; exit 1; }
echo "$output"
