#!/usr/bin/env bash
# fuzz/run.sh [SECONDS] (default 600): builds the report fuzzer with clang, ASan
# and UBSan in build-fuzz, runs it, one process, on the committed corpus and the
# templates of the three producers the tests use, then keeps in the corpus the
# fewest inputs that reach every edge reached.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_FUZZ=ON -DQUORVEL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$build" --target fuzz_report_template -j2
work=$(mktemp -d)
minimal=$(mktemp -d)
trap 'rm -rf "$work" "$minimal"' EXIT
cp "$here"/corpus/* "$top/sampledata/template/pioggeTRNprot.xls" "$here"/../fixtures/*.xls "$work"/
cd "$work"
# Full stacks on allocation, so that the suppression can see libgsf in them.
ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$top/tests/lsan.supp" \
    "$build/tests/report/fuzz_report_template" -max_total_time="${1:-600}" -timeout=5 \
    -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$here/" "$work"
ASAN_OPTIONS=detect_leaks=0 "$build/tests/report/fuzz_report_template" -use_counters=0 \
    -merge=1 "$minimal" "$here/corpus" "$work" 2>/dev/null
rm -f "$here"/corpus/*
cp "$minimal"/* "$here/corpus/"
