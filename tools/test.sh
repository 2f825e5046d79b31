#!/usr/bin/env bash
# Builds everything and runs every test. The windows are tested on Qt's
# offscreen platform, so no display is needed.
#
#   tools/test.sh             the release build in build/
#   tools/test.sh --unit      only the tests labelled `unit` (one library in its
#                             own process), after an incremental build
#   tools/test.sh --sanitize  the whole suite built with AddressSanitizer and
#                             UndefinedBehaviorSanitizer in build-sanitize/,
#                             run in the Italian locale (it_IT.UTF-8);
#                             any finding fails the test that meets it
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"

case "${1:-}" in
"")
    "$root/tools/build.sh"
    cd "$root/build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs"
    ;;
--unit)
    cmake --build "$root/build" -j"$jobs"
    cd "$root/build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" -L '^unit$'
    ;;
--sanitize)
    "$root/tools/install-deps.sh"
    flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS"
    # -O1 and line tables only: half the compile time of the release flags on
    # these sources, and stacks that still name every line.
    cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DQUORVEL_BENCH=OFF \
        "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
    cmake --build "$root/build-sanitize" -j"$jobs"
    cd "$root/build-sanitize"
    # A finding ends the process with a failing status, in the test programs
    # and in every program they start (quorvel-batch, report_fill under
    # Python). Leaks are reported at exit, with the libraries' own known
    # leaks suppressed.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
    # On an Italian desktop: any number that follows the locale shows here.
    QT_QPA_PLATFORM=offscreen LC_ALL=it_IT.UTF-8 ctest --output-on-failure -j"$jobs"
    ;;
*)
    echo "usage: tools/test.sh [--unit | --sanitize]" >&2
    exit 2
    ;;
esac
