#!/usr/bin/env bash
# Makes the Debian packages quorvel_<version>_<arch>.deb (the programs, their
# dependencies found by dpkg-shlibdeps) and quorvel-data_<version>_all.deb (the
# sample region and the template), and the portable installation
# quorvel-<version>-folder.tar.gz; then lets lintian check both .debs.
#   tools/package.sh [build folder, build-package/ by default]
# The build is a separate one, compiled with Debian's hardening flags and
# without tests or benchmarks. File times come from SOURCE_DATE_EPOCH, by
# default the commit's time, so that two runs on one commit give the same
# packages byte for byte.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build=$(realpath -m "${1:-$root/build-package}")
"$root/tools/install-deps.sh"

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The folders' names stay out of the debugging data, and so out of the
# programs' build IDs, which strip keeps: any build folder gives the same bytes.
prefix_maps="-ffile-prefix-map=$build=build -ffile-prefix-map=$root=source"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) $prefix_maps" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/quorvel*.deb "$build"/quorvel-*-folder.tar.gz
(cd "$build" && cpack -G "DEB;TGZ" >/dev/null)

debs=("$build"/quorvel_*.deb "$build"/quorvel-data_*.deb)
lintian --pedantic --fail-on error,warning --tag-display-limit 0 "${debs[@]}"
ls -l "${debs[@]}" "$build"/quorvel-*-folder.tar.gz
