#!/usr/bin/env bash
# Renders a quick-look PNG of the sample region: the shaded relief with the
# municipality (blue), province (red) and district (black) borders and the
# municipality seats.
#   tools/quicklook.sh <application folder> <out.png> [width in pixels]
# With a district code as fourth argument (UD, TG, PN, TO) it renders instead a
# full-resolution 1000 x 700 crop from the middle of that district's raster.
set -euo pipefail

app=${1:?application folder}
out=${2:?output png}
width=${3:-1400}
district=${4:-}
work=$(mktemp -d /tmp/quorvel-quicklook.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ -n "$district" ]; then
    raster=$app/Raster/$district.tif
    read -r cols rows < <(gdalinfo "$raster" | sed -n 's/^Size is \([0-9]*\), \([0-9]*\)/\1 \2/p')
    gdal_translate -q -of PNG -srcwin $(( cols / 2 - 500 )) $(( rows / 2 - 350 )) 1000 700 "$raster" "$out"
    exit 0
fi

gdal_translate -q -of GTiff -outsize "$width" 0 -r average "$app/Raster/demTRNSh.ecw" "$work/map.tif"
burn() {  # layer, r g b, sql for the lines
    gdal_rasterize -q -b 1 -b 2 -b 3 -burn "$2" -burn "$3" -burn "$4" -dialect sqlite \
        -sql "$5" "$app/Shp/$1.shp" "$work/map.tif"
}
burn comuniPoly 40 60 230 "SELECT ST_Boundary(geometry) FROM comuniPoly"
burn V_PROVINCEpoly 230 20 20 "SELECT ST_Boundary(geometry) FROM V_PROVINCEpoly"
burn V_ISPETTORATI 0 0 0 "SELECT ST_Boundary(ST_Buffer(geometry, 150)) FROM V_ISPETTORATI"
burn toponomasticaComuni 20 20 20 "SELECT ST_Buffer(geometry, 350) FROM toponomasticaComuni"
gdal_translate -q -of PNG "$work/map.tif" "$out"
