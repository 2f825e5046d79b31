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
    # report names compared as case-insensitive shared drives compare them
    libunistring-dev
    # quorvel-server, and nginx in front of it on a network
    libcpp-httplib-dev libboost-dev nlohmann-json3-dev zlib1g-dev nginx-light
    # the desktop icon, and the packages with their checkers
    librsvg2-bin dpkg-dev file desktop-file-utils appstream lintian
    # the Italian locale, under which the sanitizer pass runs (tests only)
    locales
    # independent readers of our reports, and screenshots (tests only)
    python3 python3-xlrd python3-xlwt libreoffice-calc-nogui
    xvfb xauth imagemagick
    # the real browser, PROJ's own command-line tools, PDF readers and load (tests only)
    chromium chromium-driver python3-selenium proj-bin poppler-utils wrk
    # GDAL's and OWSLib's readings of the grids' GeoTIFF and the map service (tests only)
    python3-gdal python3-owslib
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

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
else
    sudo=(sudo)
fi

# The Italian desktop's locale: numbers must come out the same under it.
italian_locale() {
    if ! locale -a 2>/dev/null | grep -qix 'it_IT\.utf-\?8'; then
        "${sudo[@]}" sed -i 's/^# *\(it_IT\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -qx 'it_IT.UTF-8 UTF-8' /etc/locale.gen || echo 'it_IT.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
        "${sudo[@]}" locale-gen >/dev/null
    fi
}

if [ ${#missing[@]} -eq 0 ]; then
    italian_locale
    exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
italian_locale
