#!/bin/sh
# test_prepare_links.sh BUILD_DIR: which links in the user's folder the
# launcher takes as its own. An installation is laid out by hand from the
# build's scripts; each case prepares a folder with `quorvel --prepara` and
# compares the status and the folder's links afterwards.
set -eu
scripts=$(readlink -f "$1")/packaging/scripts
work=$(mktemp -d /tmp/quorvel-links.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset QUORVEL_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export HOME="$work/home"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# An installation under prefix: the launchers, the program and the sample's folders.
install_at() {
    mkdir -p "$1/bin" "$1/libexec/quorvel"
    cp "$scripts/quorvel" "$1/bin/quorvel"
    cp "$scripts/prepare-folder" "$1/libexec/quorvel/prepare-folder"
    printf '#!/bin/sh\n' >"$1/libexec/quorvel/Quorvel"
    chmod +x "$1/bin/quorvel" "$1/libexec/quorvel/prepare-folder" "$1/libexec/quorvel/Quorvel"
    for name in grd dat Shp Raster programs; do
        mkdir -p "$1/share/quorvel/$name"
    done
}
install_at "$work/usr"
mkdir -p "$work/mine/share/quorvel/grd" "$work/mine/share/quorvel/dat" "$work/mine/share/quorvel/Shp" \
    "$work/mine/share/quorvel/Raster" "$work/mine/share/quorvel/programs"

# The data folders' links of a folder, one line "name -> target", or "name/" for a folder.
links() {
    for name in grd dat Shp Raster programs; do
        if [ -L "$1/$name" ]; then
            printf '%s -> %s\n' "$name" "$(readlink "$1/$name")"
        elif [ -d "$1/$name" ]; then
            printf '%s/\n' "$name"
        fi
    done
}
# The five data folders linked under the folder prefix.
five_to() {
    for name in grd dat Shp Raster programs; do
        printf '%s -> %s/%s\n' "$name" "$1" "$name"
    done
}

# label | links made beforehand into | record line written beforehand | status | links afterwards into
while IFS='|' read -r label before record status after; do
    folder=$work/cases/$(printf '%s' "$label" | tr ' ' '-')
    mkdir -p "$folder"
    if [ -n "$before" ]; then
        for name in grd dat Shp Raster programs; do
            ln -s "$before/$name" "$folder/$name"
        done
    fi
    [ -z "$record" ] || printf '%s\n' "$record" >"$folder/.quorvel-collegamenti"
    got=0
    QUORVEL_HOME=$folder "$work/usr/bin/quorvel" --prepara >"$work/out" 2>&1 || got=$?
    [ "$got" = "$status" ] || fail "$label: status $got, $(cat "$work/out")"
    [ "$(links "$folder")" = "$(five_to "$after")" ] || fail "$label: $(links "$folder")"
    if [ "$status" = 1 ]; then
        grep -q "punta a «$before/grd», che non esiste" "$work/out" || fail "$label: not said: $(cat "$work/out")"
    fi
done <<CASES
an empty folder gets the sample|||0|$work/usr/share/quorvel
links to a share that is not mounted are the user's|/mnt/share/quorvel||1|/mnt/share/quorvel
links to another installation are the user's|$work/gone/share/quorvel||1|$work/gone/share/quorvel
links to folders of the user's named like ours are kept|$work/mine/share/quorvel||0|$work/mine/share/quorvel
links into an installation the record names are mended|$work/gone/share/quorvel|dati=$work/gone/share/quorvel|0|$work/usr/share/quorvel
links into this installation through another path are ours|$work/usr/share/../share/quorvel||0|$work/usr/share/../share/quorvel
CASES

[ "$failures" = 0 ]
