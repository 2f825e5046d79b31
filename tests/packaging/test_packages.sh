#!/bin/sh
# Makes the .deb and the application folder's .tar.gz from the build with
# CPack, checks the archive's layout, and lets lintian judge the .deb: errors
# fail the test, warnings are shown.
#   test_packages.sh BUILD_DIR
set -eu
build=$(readlink -f "$1")
if ! command -v dpkg-shlibdeps >/dev/null 2>&1 || ! command -v file >/dev/null 2>&1; then
    echo "SKIPPED: dpkg-shlibdeps or file is not installed (dpkg-dev, file; tools/install-deps.sh installs them)"
    exit 77
fi
work=$(mktemp -d /tmp/quorvel-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work"
deb=$(ls "$work"/quorvel_*.deb)
archive=$(ls "$work"/quorvel-*-folder.tar.gz)
top=$(basename "$archive" .tar.gz)
tar -tzf "$archive" >"$work/archive.txt"
for entry in Quorvel quorvel-batch grd/param_a1.ras dat/comuniPolyRid.dat Raster/demTRNSh.ecw \
    programs/prototipo/pioggeTRNprot.xls output/; do
    grep -qx "$top/$entry" "$work/archive.txt" || {
        echo "FAIL: $top/$entry missing from $(basename "$archive")"
        exit 1
    }
done
dpkg-deb -f "$deb" Depends

if ! command -v lintian >/dev/null 2>&1; then
    echo "SKIPPED: lintian is not installed (tools/install-deps.sh installs it); the packages were made"
    exit 77
fi
lintian --fail-on error --tag-display-limit 0 "$deb"
