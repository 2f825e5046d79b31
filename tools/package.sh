#!/usr/bin/env bash
# Makes the Debian package quorvel_<version>_<arch>.deb, its dependencies found
# by dpkg-shlibdeps, and the relocatable application folder
# quorvel-<version>-folder.tar.gz; then lets lintian check the .deb.
#   tools/package.sh [build folder, build-package/ by default]
# The build is a separate one, compiled with Debian's hardening flags and
# without tests or benchmarks.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build=$(realpath -m "${1:-$root/build-package}")
"$root/tools/install-deps.sh"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G "DEB;TGZ" >/dev/null)

deb=$(ls "$build"/quorvel_*.deb)
lintian --fail-on error --tag-display-limit 0 "$deb"
ls -l "$deb" "$build"/quorvel-*-folder.tar.gz
