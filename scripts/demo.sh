#!/usr/bin/env bash
# The main job on generated demo pictures, without any window: installs what is missing, builds
# the two programs it runs into build/, draws good and defective product photographs, then registers a template and the
# good samples and inspects the pictures through the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build}
# Only the two programs the demo runs, not the tests and benchmarks.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_dir" -j "$(nproc)" --target tallen tallen_demo_generator

# With a command the dialog program runs headless and opens no window.
tallen="$PWD/$build_dir/tallen/dialog/tallen"
if [ -z "${DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi

# demo/work/param.csv          template size, one level above the working directory
# demo/work/pictures/          the generated photographs
# demo/work/inspection/        working directory: templImage.jpg, gdaccnumI.jpg, ...
# demo/work/maps/              defect maps written by inspect --map
demo_dir="$PWD/demo/work"
rm -rf "$demo_dir"
"$build_dir/demo/generator/tallen_demo_generator" "$demo_dir/pictures" "$demo_dir/inspection"

cd "$demo_dir/inspection"
log="$demo_dir/console.log"
"$tallen" template ../pictures/good_1.jpg >"$log"
good=(../pictures/good_*.jpg)
"$tallen" register "${good[@]}" >>"$log"
"$tallen" --quiet inspect --map ../maps ../pictures/check_good_*.jpg ../pictures/check_scratch.jpg \
  ../pictures/check_missing_hole.jpg ../pictures/check_blob.jpg >"$demo_dir/ratios.tsv"

echo
echo "defect ratio  picture (registered: good_1 .. good_${#good[@]}; template from good_1)"
while IFS=$'\t' read -r ratio picture; do
  printf '  %s      %s\n' "$ratio" "${picture#../pictures/}"
done <"$demo_dir/ratios.tsv"
echo
echo "defect maps (as the window 白黒判定 shows them): demo/work/maps/<picture>_defects.png"
echo "ratios: demo/work/ratios.tsv; trace lines of template and register: demo/work/console.log"
