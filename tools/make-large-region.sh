#!/usr/bin/env bash
# Writes a region of the real data's size into <build dir>/large-region, for
# the map benchmarks and for trying the program on full-size rasters:
#   - the relief at 10 m (18050 x 13000), tiled, JPEG, with overviews;
#   - the district raster of UD at $DISTRICT_CELL metres (5 by default:
#     24980 x 13680), tiled, DEFLATE, without overviews: the hard case;
#   - over 60,000 detailed place names.
# The other districts, the template and the programs come from the sample
# region in <build dir>/app, which must have been built. Not part of the build.
#   tools/make-large-region.sh [build dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
generator="$build/sampledata/quorvel-sampledata"
app="$build/app"
target="$build/large-region"
cell="${DISTRICT_CELL:-5}"
options=(--relief-cell 10 --relief-jpeg --district-cell "$cell" --only-district UD --no-district-overviews
         --hamlets 60000)
settings="${options[*]}"

if [ ! -x "$generator" ] || [ ! -f "$app/Raster/TG.tif" ]; then
    echo "build the sample region first: cmake --build $build --target sample_region" >&2
    exit 1
fi
# A region already written by this generator with these settings is kept.
stamp="$target/.complete"
if [ -f "$stamp" ] && [ "$stamp" -nt "$generator" ] && [ "$(cat "$stamp")" = "$settings" ]; then
    echo "$target is up to date"
    exit 0
fi

# Two runs at once would write the same files.
exec 9>"$build/large-region.lock"
if ! flock -n 9; then
    echo "another run is writing $target" >&2
    exit 1
fi
start=$(date +%s)
work="$target.partial"
rm -rf "$work"
mkdir -p "$work"
"$generator" "${options[@]}" "$work"
for code in TG PN TO; do
    cp "$app/Raster/$code.tif" "$work/Raster/"
done
mkdir -p "$work/programs/prototipo" "$work/output"
cp "$app/programs/prototipo/pioggeTRNprot.xls" "$work/programs/prototipo/"
for program in Quorvel quorvel-batch; do
    [ -e "$app/$program" ] && ln -sf "$app/$program" "$work/$program"
done
echo "$settings" > "$work/.complete"
rm -rf "$target"
mv "$work" "$target"
echo "large region: $(du -sh "$target" | cut -f1) in $(( $(date +%s) - start )) s, in $target"
