#!/usr/bin/env bash
# Installs what is needed, checks the formatting and the layering of the includes, builds
# sheetmerge and runs every test (LibreOffice headless reads merge results in one of them), walks
# the desktop program from the keyboard on a virtual display, builds the Debian package and checks
# it (contents, lintian, the menu entry, the AppStream metadata, an installation simulated by
# apt), then runs the engine and merge tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the merge tests (sources read ahead on other threads) under
# ThreadSanitizer.
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

# The desktop program from the keyboard alone, without a window manager and under openbox.
tools/keyboard_walk.sh build/src/sheetmerge build/keyboard_walk

# The Debian package: what it holds, lintian without errors, the menu entry and the AppStream
# metadata valid, and that apt would install it with its dependencies.
cmake --workflow --preset deb
deb=$(ls build-deb/sheetmerge_*_amd64.deb)
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/sheetmerge ./usr/share/applications/sheetmerge.desktop \
    ./usr/share/icons/hicolor/scalable/apps/sheetmerge.svg \
    ./usr/share/icons/hicolor/48x48/apps/sheetmerge.png \
    ./usr/share/metainfo/org.sheetmerge.SheetMerge.metainfo.xml \
    ./usr/share/man/man1/sheetmerge.1.gz ./usr/share/bash-completion/completions/sheetmerge \
    ./usr/share/doc/sheetmerge/copyright ./usr/share/doc/sheetmerge/changelog.gz; do
    grep -q " $path\$" <<<"$contents" || { echo "the package lacks $path" >&2; exit 1; }
done
lintian --fail-on error "$deb"
unpacked=$(mktemp -d)
dpkg-deb --extract "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/sheetmerge.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.sheetmerge.SheetMerge.metainfo.xml"
[ "$("$unpacked/usr/bin/sheetmerge" --version)" = "sheetmerge $(dpkg-deb --field "$deb" Version)" ]
rm -rf "$unpacked"
apt-get install --simulate --no-install-recommends "./$deb" >/dev/null

# A short run of every fuzz target (clang, sanitizers); any crash, hang or memory blow-up fails.
SHEETMERGE_FUZZ_SECONDS=${SHEETMERGE_FUZZ_SECONDS:-10} tools/fuzz_smoke.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_DESKTOP=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 900)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_DESKTOP=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target merge_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/merge_tests
