#!/usr/bin/env bash
# Installs, on Debian 12, every package needed to build, run and test Quorvel.
# Idempotent: only packages that are missing are installed.
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev
    # windows, and Qt's own texts in Italian
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
    fonts-dejavu-core fontconfig qt6-translations-l10n
    # map files and the sample region
    libgdal-dev gdal-bin libpng-dev
    # report workbook container
    libgsf-1-dev
    # quorvel-server, and nginx in front of it on a network
    libcpp-httplib-dev libboost-dev nlohmann-json3-dev nginx-light
    # the desktop icon, and the packages with their checkers
    librsvg2-bin dpkg-dev file desktop-file-utils appstream lintian
    # independent readers of our reports, and screenshots (tests only)
    python3 python3-xlrd python3-xlwt libreoffice-calc-nogui
    xvfb xauth imagemagick
    # the real browser, PROJ's own command-line tools, PDF readers and load (tests only)
    chromium chromium-driver python3-selenium proj-bin poppler-utils wrk
)

missing=()
# The web page's libraries come from npm, with a committed lockfile. A Node.js
# that brings its own npm is kept; Debian's pair is installed only without one.
if ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
else
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
