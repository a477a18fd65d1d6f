#!/usr/bin/env bash
# Installs every Debian package the kit needs that is not there yet. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libopencv-dev            # its video I/O brings FFmpeg for video files and V4L2 for cameras
  qtbase5-dev qtbase5-dev-tools
  libxcb1-dev              # the programs ask the X server whether it answers before Qt does
  help2man dpkg-dev        # manual pages made from --help; the package's dependencies
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic
  xvfb xauth
  libv4l-0
  nlohmann-json3-dev libssl-dev   # the model record: JSON, SHA-256
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present" >&2
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
