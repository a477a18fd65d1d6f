#!/usr/bin/env bash
# Renders docs/tallen-dialog.png and docs/tallen-windows.png under Xvfb from generated pictures.
#   take_screenshots.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../../.." && pwd)"
build="$(cd "${1:?usage: take_screenshots.sh BUILD_DIR}" && pwd)"
cmake --build "$build" --target tallen_screenshots tallen_demo_generator -j2

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
"$build/demo/generator/tallen_demo_generator" "$scratch/pictures" "$scratch/session/work"
cd "$scratch/session/work"
goods=("$scratch"/pictures/good_*.jpg)
inspected="$scratch/pictures/check_scratch.jpg"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tallen/dialog/tallen_screenshots" "$repo/docs" "$inspected" "${goods[@]}"
