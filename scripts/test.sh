#!/usr/bin/env bash
# Installs what is missing, builds everything into ${BUILD_DIR:-build} and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$(nproc)" -LE package
# The package build runs alone: it installs the whole build folder once more.
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -L package
