#!/usr/bin/env bash
# Installs what is missing and builds everything into ${BUILD_DIR:-build}.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_dir" -j "$(nproc)"
