#!/usr/bin/env bash
# Line and branch coverage of the core (rain/, report/) and of quorvel-batch
# (batch/) under the whole test suite. Builds an instrumented tree of its own
# in build-coverage/, so build/ is left alone.
#   tools/coverage.sh [--html]   --html also writes build-coverage/coverage.html
# Branches that only an exception or the compiler's own bookkeeping can take
# are left out: they would drown the branches the code decides.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-coverage"
jobs="${JOBS:-$(nproc)}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
    -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$build" -j"$jobs"
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest -j"$jobs" --output-on-failure) || status=$?

# Each library is compiled in its own build folder, and the object files name
# their sources from there (relative paths when ccache shortens them), so each
# is read from its own folder; the three then add up.
common=(--root "$root" --exclude-throw-branches --exclude-unreachable-branches)
tracefiles=()
for folder in rain report batch; do
    echo "== $folder/"
    gcovr "${common[@]}" --object-directory "$build/$folder" "$build/$folder" --filter "$root/$folder/" \
        --print-summary --json "$build/coverage-$folder.json" | grep -E '^(lines|branches):'
    tracefiles+=(--add-tracefile "$build/coverage-$folder.json")
done
echo "== rain/ report/ batch/"
gcovr "${common[@]}" "${tracefiles[@]}" --print-summary -o "$build/coverage.txt" | grep -E '^(lines|branches):'
if [[ "${1:-}" == "--html" ]]; then
    gcovr "${common[@]}" "${tracefiles[@]}" --html-details -o "$build/coverage.html"
    echo "written $build/coverage.html"
fi
exit "$status"
