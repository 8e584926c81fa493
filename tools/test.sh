#!/usr/bin/env bash
# Installs what is needed, checks the formatting and the layering of the includes, builds
# sheetmerge and runs every test (LibreOffice headless reads merge results in one of them), then
# runs the engine and merge tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the merge tests (sources read ahead on other threads) under ThreadSanitizer.
#   tools/test.sh            (from the repository root, on Debian 12)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then tools/install-deps.sh; fi
jobs=$(nproc)

# Every C and C++ file is formatted by .clang-format, and no include crosses the layers upwards.
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
python3 tools/check_layers.py

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600)

# A short run of every fuzz target (clang, sanitizers); any crash, hang or memory blow-up fails.
SHEETMERGE_FUZZ_SECONDS=${SHEETMERGE_FUZZ_SECONDS:-10} tools/fuzz_smoke.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_DESKTOP=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_DESKTOP=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target merge_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/merge_tests
