#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (Qt's offscreen platform: no display needed):
# the suite in build/, the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/, and, with clang, the fuzz targets in build-fuzz/, each replaying its corpus and then
# fuzzing for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2

# Any sanitizer report ends its test as a failure; leaks are checked as each test program exits.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
bash scripts/build.sh build-asan -DOV_SANITIZE=ON
ctest --test-dir build-asan --output-on-failure -j2

if command -v clang++ >/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DOV_BUILD_FUZZ=ON -DOV_SANITIZE=ON \
    -DOV_BUILD_TESTS=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_targets
  ctest --test-dir build-fuzz/fuzz --output-on-failure -j2
else
  echo "clang++ not found: the fuzz targets are skipped"
fi
