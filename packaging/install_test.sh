#!/usr/bin/env bash
# Installs the build folder $1 into a temporary prefix and runs the installed programs' --version
# and --help there, without a display. $2 is the version they must print.
set -euo pipefail
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install test: $*" >&2; exit 1; }
for file in bin/tallen bin/fennock share/man/man1/tallen.1.gz share/man/man1/fennock.1.gz \
  share/applications/tallen.desktop share/icons/hicolor/16x16/apps/tallen.png \
  share/icons/hicolor/32x32/apps/tallen.png share/doc/inspection-kit/README.md \
  share/doc/inspection-kit/copyright; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done

export QT_QPA_PLATFORM=xcb DISPLAY=
for program in tallen fennock; do
  out=$("$prefix/bin/$program" --version) || fail "$program --version failed"
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
  help=$("$prefix/bin/$program" --help) || fail "$program --help failed"
  grep -qi '^usage: ' <<<"$help" || fail "$program --help printed no usage"
  # The manual page is the --help of this very program.
  zcat "$prefix/share/man/man1/$program.1.gz" | grep -q 'print this text' ||
    fail "$program.1 does not describe --help"
  zcat "$prefix/share/man/man1/$program.1.gz" | grep -q "$version" ||
    fail "$program.1 does not name version $version"
done
echo "install test: $prefix holds both programs, their pages, the menu entry, icons and docs"
