#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# ${BUILD_DIR:-build-sanitize} and runs every test there. Leaks are checked, except those of Qt's,
# highgui's and libusb's own start-up that scripts/lsan_suppressions.txt lists.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=${BUILD_DIR:-build-sanitize}
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIT_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
# Set before the build too: listing the tests of a binary runs it.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan_suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake --build "$build_dir" -j "$(nproc)"
# The tests that probe cameras meet libgphoto2's USB leaks, whose stacks only a full unwind
# (slower, and not safe everywhere) traces back to the library that the suppression names.
probing='VideoCaptureSource|Fennock/Program'
status=0
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" -E "$probing" "$@" || status=1
ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0" \
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" -R "$probing" "$@" || status=1
exit $status
