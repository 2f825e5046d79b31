#!/bin/sh
# reproducible.sh [WORK]: runs tools/package.sh twice on the checked-out
# commit, each time from an empty build folder, WORK/build (by default in a
# scratch folder), and compares the two sets of packages byte for byte. Two
# whole builds: slow, so it is run by hand rather than with the test suite.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$(mktemp -d /tmp/quorvel-reproducible.XXXXXX)}
for run in one two; do
    rm -rf "${work:?}/build" "${work:?}/$run"
    mkdir -p "$work/$run"
    "$root/tools/package.sh" "$work/build" >"$work/$run/log" 2>&1 || {
        tail -n 30 "$work/$run/log"
        exit 1
    }
    mv "$work"/build/quorvel*.deb "$work"/build/quorvel-*-folder.tar.gz "$work/$run/"
done
status=0
for package in "$work"/one/quorvel*.deb "$work"/one/quorvel-*-folder.tar.gz; do
    name=$(basename "$package")
    if cmp "$package" "$work/two/$name"; then
        echo "same: $name"
    else
        status=1
    fi
done
exit "$status"
