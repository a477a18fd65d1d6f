#!/usr/bin/env bash
# Builds the Debian package of the build folder $1 (package $2, version $3) into a temporary
# folder and checks what it holds. Skipped (77) where dpkg-deb is missing.
set -euo pipefail
build=$1 package=$2 version=$3
command -v dpkg-deb >/dev/null || { echo "package test: no dpkg-deb, skipped"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" ||
  { cat "$out/cpack.log" >&2; exit 1; }
deb=$(ls "$out"/"${package}"_"${version}"_*.deb)
contents=$(dpkg-deb -c "$deb")
echo "$contents"

fail() { echo "package test: $*" >&2; exit 1; }
for file in usr/bin/tallen usr/bin/fennock usr/share/man/man1/tallen.1.gz \
  usr/share/man/man1/fennock.1.gz usr/share/applications/tallen.desktop \
  usr/share/icons/hicolor/16x16/apps/tallen.png usr/share/icons/hicolor/32x32/apps/tallen.png \
  "usr/share/doc/$package/copyright" "usr/share/doc/$package/README.md"; do
  grep -q " \./$file\$" <<<"$contents" || fail "$file is not in the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in fonts-ipafont-gothic libopencv-core libqt5widgets5 libc6; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed"
done
