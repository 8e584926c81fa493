#!/usr/bin/env bash
# The continuous-integration smoke run of the fuzz targets: builds them and runs each for a short
# time (20 s unless SHEETMERGE_FUZZ_SECONDS says otherwise). Fails when any target finds a crash,
# hang or memory blow-up; the input is left in fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
exec tools/fuzz.sh "${SHEETMERGE_FUZZ_SECONDS:-20}" zip xlsx csv cell_ref xls xml markup crypto job
