#!/usr/bin/env bash
# Starts the desktop program's windows on a virtual X display (Xvfb) and saves pictures of the
# main window, the options dialog filled from a sample workbook, the progress window with its
# file and "取消", the password question and the final message into docs/screenshots/.
#   tools/screenshots.sh            (from the repository root, after tools/install-deps.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-screenshots}
# A build folder of its own is configured for this; an existing one (BUILD_DIR=build) is reused
# as it is configured.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DBUILD_DESKTOP=ON -DBUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target screenshots
mkdir -p docs/screenshots
sample="$(pwd)/examples/月报/北京店.xlsx"
# No window manager runs on the virtual display; the windows are grabbed as the toolkit draws them.
exec xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
    "$build/src/app/screenshots" "$sample" docs/screenshots
