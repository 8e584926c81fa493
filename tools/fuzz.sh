#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each for a given time, one target after the other on one core, seeded from the shared
# corpus and the test fixtures.
#   tools/fuzz.sh [--keep-going] [seconds per target] [target ...]   e.g. tools/fuzz.sh 30 xlsx csv
# --keep-going runs each target in libFuzzer's fork mode, which records a crash, hang or
# out-of-memory input and goes on fuzzing; use it for long runs. Without it a target stops at
# its first finding. Inputs that crash or hang are saved in fuzz/findings/<target>/; move each
# into tests/data/regressions/ with a test named for the behaviour once it is fixed.
# Exits 0 only when no target left a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
keep_going=0
if [ "${1:-}" = --keep-going ]; then keep_going=1; shift; fi
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(zip xlsx csv cell_ref xls xml markup crypto job)
build=${SHEETMERGE_FUZZ_BUILD:-build-fuzz}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    as_root=(); [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSANITIZE=ON -DBUILD_FUZZ=ON -DBUILD_TESTS=OFF -DBUILD_DESKTOP=OFF >/dev/null
cmake --build "$build" -j "${SHEETMERGE_FUZZ_JOBS:-2}" --target $(printf 'fuzz_%s ' "${targets[@]}")

shared=${SHEETMERGE_CORPUS:-../shared/corpus}
# The hostile fixtures and the limit fixtures (too_many_*) are left out: they are built to take
# seconds and gigabytes, and would only be reported as slow units.
seeds() {  # the seed files of one target
    local files=(find "$shared" tests/data -type f -not -path '*/hostile/*' -not -name 'too_many_*')
    case $1 in
        zip|xlsx) "${files[@]}" \( -name '*.xlsx' -o -name '*.xlsm' -o -name '*.zip' \) ;;
        xls) "${files[@]}" -name '*.xls' ;;
        csv) "${files[@]}" \( -name '*.csv' -o -name '*.txt' \) ;;
        markup) "${files[@]}" \( -name '*.xls' -o -name '*.htm' -o -name '*.html' -o -name '*.xml' \) ;;
        crypto) "${files[@]}" \( -path '*/crypto/*' -o -name '*pass*' \) \( -name '*.xls' -o -name '*.xlsx' \) ;;
        job) "${files[@]}" -name '*.json' -size -64k ;;
    esac 2>/dev/null
}
status=0
for target in "${targets[@]}"; do
    work=$build/corpus/$target
    findings=fuzz/findings/$target
    mkdir -p "$work" "$findings"
    if [ "$target" = cell_ref ]; then
        for word in A1 '$B$2' b2:G5 XFD1048576 IV65536 A0 ZZZZ1 'A1:' ':B2' 'A:A' '1:1' 'Sheet1!A1'; do
            printf '%s' "$word" > "$work/seed_$(printf '%s' "$word" | md5sum | cut -c1-8)"
        done
    elif [ "$target" = job ]; then
        # A job as --save-job writes it, besides the JSON files of the fixtures.
        printf '%s' '{"sheetmerge-job": 1, "paths": ["/data/月报", "b.csv"], "recursive": true,
  "include": ["*销售*"], "exclude": ["*备份*"], "output-dir": null, "format": "csv",
  "sheet-index": null, "sheet-name": "销售", "start-row": 2, "cells": null, "header": true,
  "mark-path": false, "mark-cells": ["A1", "B2"]}' > "$work/seed_job"
        seeds job | while read -r file; do
            cp -f "$file" "$work/$(printf '%s' "$file" | md5sum | cut -c1-8)_$(basename "$file")" 2>/dev/null || true
        done
    elif [ "$target" = xml ]; then
        # The XML parts of the packages, each after one byte that picks the scanner's chunk size.
        seeds xlsx | python3 -c '
import hashlib, sys, zipfile
for path in sys.stdin.read().split("\n"):
    try:
        package = zipfile.ZipFile(path)
        for info in package.infolist():
            if info.filename.endswith((".xml", ".rels")) and info.file_size < 65536:
                data = bytes([len(info.filename) % 64]) + package.read(info)
                open(sys.argv[1] + "/" + hashlib.md5(data).hexdigest()[:12], "wb").write(data)
    except Exception:
        pass
' "$work"
    else
        seeds "$target" | while read -r file; do
            cp -f "$file" "$work/$(printf '%s' "$file" | md5sum | cut -c1-8)_$(basename "$file")" 2>/dev/null || true
        done
    fi
    echo "== fuzz_$target for ${seconds}s"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1048576
             -artifact_prefix="$findings/" -print_final_stats=1)
    [ "$keep_going" -eq 1 ] && options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
    log=$build/fuzz_$target.log
    "$build/fuzz/fuzz_$target" "$work" "${options[@]}" > "$log" 2>&1 || status=1
    # The last progress line carries executions, coverage and speed; the errors say what was found.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E '^(stat::|==[0-9]+==ERROR|SUMMARY|.*(crash|timeout|oom|leak)-[0-9a-f]{40})' "$log" | sort | uniq -c | sort -rn | head -n 20 || true
done
found=$(find fuzz/findings -type f 2>/dev/null | wc -l)
echo "findings: $found"
[ "$found" -eq 0 ] && [ "$status" -eq 0 ]
