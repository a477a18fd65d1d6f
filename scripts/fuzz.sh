#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into ${BUILD_DIR:-build-fuzz} and runs each for SECONDS (default 60), one after another,
# starting from its seed corpus in tests/fuzz/<name>/. Findings go to BUILD_DIR/artifacts/.
# FUZZERS="picture" runs only the named ones.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${BUILD_DIR:-build-fuzz}
fuzzers=(${FUZZERS:-template_size picture working_file})
# Only fuzzing needs clang, so setup.sh does not install it for every build.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz: needs clang and libFuzzer: apt-get install clang libclang-rt-14-dev" >&2
  exit 1
fi
bash scripts/setup.sh
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKIT_BUILD_FUZZERS=ON -DKIT_BUILD_TESTS=OFF -DKIT_BUILD_BENCHMARKS=OFF \
  -DKIT_BUILD_FENNOCK=OFF -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
targets=()
for f in "${fuzzers[@]}"; do targets+=("${f}_fuzzer"); done
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}"
mkdir -p "$build_dir/artifacts"
status=0
for f in "${fuzzers[@]}"; do
  corpus="$build_dir/corpus/$f"
  mkdir -p "$corpus"
  echo "fuzz: ${f} for ${seconds} s" >&2
  # The decoders' own complaints about damaged input go to standard error: closed.
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build_dir/tests/fuzz/${f}_fuzzer" -max_total_time="$seconds" -close_fd_mask=2 \
    -rss_limit_mb=2048 -artifact_prefix="$build_dir/artifacts/${f}-" -print_final_stats=1 \
    "$corpus" "tests/fuzz/$f" || status=1
done
exit $status
