#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each for a given time, seeded from the shared corpus and the test fixtures.
#   tools/fuzz.sh [seconds per target] [target ...]     e.g. tools/fuzz.sh 30 xlsx csv
# Inputs that crash or hang are saved in fuzz/findings/<target>/; move each into
# tests/data/regressions/ with a test named for the behaviour once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(zip xlsx csv cell_ref xls)

if ! command -v clang++ >/dev/null || [ ! -d /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux ]; then
    as_root=(); [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSANITIZE=ON -DBUILD_FUZZ=ON -DBUILD_TESTS=OFF -DBUILD_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

shared=${SHEETMERGE_CORPUS:-../shared/corpus}
seeds() {  # the seed files of one target
    case $1 in
        zip|xlsx) find "$shared" tests/data -type f \( -name '*.xlsx' -o -name '*.xlsm' \) ;;
        xls) find "$shared" tests/data -type f -name '*.xls' ;;
        csv) find "$shared" tests/data -type f -name '*.csv' ;;
        cell_ref) printf '%s\n' A1 '$B$2' b2:G5 XFD1048576 IV65536 A0 ZZZZ1 'A1:' ':B2' > build-fuzz/cell_ref_words.txt
                  echo build-fuzz/cell_ref_words.txt ;;
    esac 2>/dev/null
}
for target in "${targets[@]}"; do
    work=build-fuzz/corpus/$target
    findings=fuzz/findings/$target
    mkdir -p "$work" "$findings"
    if [ "$target" = cell_ref ]; then
        while read -r word; do printf '%s' "$word" > "$work/seed_$(printf '%s' "$word" | md5sum | cut -c1-8)"; done < "$(seeds cell_ref)"
    else
        seeds "$target" | while read -r file; do cp -f "$file" "$work/" 2>/dev/null || true; done
    fi
    echo "== fuzz_$target for ${seconds}s"
    build-fuzz/fuzz/fuzz_$target "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=1048576 -artifact_prefix="$findings/" -print_final_stats=1 2>&1 |
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' || true
done
found=$(find fuzz/findings -type f 2>/dev/null | wc -l)
echo "findings: $found"
[ "$found" -eq 0 ]
