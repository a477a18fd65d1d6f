#!/usr/bin/env bash
# Installs what is missing, builds into ${BUILD_DIR:-build} and makes the Debian package there:
# ${BUILD_DIR:-build}/inspection-kit_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build_dir=${BUILD_DIR:-build}
(cd "$build_dir" && cpack -G DEB)
ls "$build_dir"/inspection-kit_*.deb
