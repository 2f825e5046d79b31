#!/usr/bin/env bash
# Builds everything and runs every test. The windows are tested on Qt's
# offscreen platform, so no display is needed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
