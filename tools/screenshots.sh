#!/usr/bin/env bash
# Saves PNG pictures of the main window on the sample region: as it opens, at full
# extent, just after the search for a municipality, at view widths of about 40 km, 8 km
# and 4 km over it, with the finder offering names, and at the default size with the
# results of five points of more than 100 mm in 200 years and the pointer over the map
# (main-results.png), the
# first selected run's report in the "Report" tab (main-report.png), then at 800 x 600,
# and at full extent with the 50-year rainfall map and its legend (main-rainfall.png);
# and the web page of quorvel-server after three clicks (web-page.png), in headless Chromium.
#   tools/screenshots.sh [picture folder] [list entry, 109 by default: a town in the plain]
# Builds what it needs in build/ (or $QUORVEL_BUILD_DIR) and draws offscreen; the
# finder's list of names is a window of its own, which only a real display shows
# (run the script under xvfb-run with QT_QPA_PLATFORM=xcb to see it).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$repo/build}
out=$(realpath -m "${1:-$build/screenshots}")
entry=${2:-109}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target form1_screenshots sample_region quorvel-server web_page -j2 >/dev/null

cd "$build/app"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/tools/screenshots/form1_screenshots" "$out" "$entry"
/usr/bin/python3 "$repo/tools/screenshots/web_page.py" "$build/app/quorvel-server" "$build/app" "$out/web-page.png"
