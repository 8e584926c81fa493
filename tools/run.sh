#!/usr/bin/env bash
# Installs what is needed, builds sheetmerge and runs it: the desktop program when a display is
# present, otherwise a headless merge of the bundled example folder (the result's path is printed).
#   tools/run.sh            (from the repository root, on Debian 12)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then tools/install-deps.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target sheetmerge
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/src/sheetmerge
fi
out=$(mktemp -d /tmp/sheetmerge-example.XXXXXX)
exec build/src/sheetmerge merge --header --start-row 2 --mark-path -o "$out" examples/月报
