#!/bin/sh
# Makes the two .debs and the portable folder's .tar.gz from the build with
# CPack; unpacks the folder into a path with spaces and runs it from the home
# folder; lets lintian, pedantic, judge both .debs: errors and warnings fail
# the test.
#   test_packages.sh BUILD_DIR
set -eu
build=$(readlink -f "$1")
if ! command -v dpkg-shlibdeps >/dev/null 2>&1 || ! command -v file >/dev/null 2>&1; then
    echo "SKIPPED: dpkg-shlibdeps or file is not installed (dpkg-dev, file; tools/install-deps.sh installs them)"
    exit 77
fi
work=$(mktemp -d /tmp/quorvel-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(ls "$work"/quorvel_*.deb)
data=$(ls "$work"/quorvel-data_*_all.deb)
archive=$(ls "$work"/quorvel-*-folder.tar.gz)

# Which package holds what, and how they hang together.
while IFS='|' read -r package field expected; do
    [ "$(dpkg-deb -f "$package" "$field")" = "$expected" ] || fail "$(basename "$package") $field: $(dpkg-deb -f "$package" "$field")"
done <<FIELDS
$data|Architecture|all
$deb|Recommends|quorvel-data (= 2.0), xdg-utils
$deb|Suggests|libreoffice-calc | gnumeric
FIELDS
dpkg-deb -f "$deb" Depends | grep -q "qt6-qpa-plugins" && fail "quorvel depends on qt6-qpa-plugins"
while IFS='|' read -r package path; do
    dpkg-deb -c "$package" | grep " \./usr/$path\$" >/dev/null || fail "$path missing from $(basename "$package")"
done <<FILES
$deb|libexec/quorvel/Quorvel
$deb|share/man/man1/quorvel.1.gz
$deb|share/man/it/man1/quorvel-batch.1.gz
$deb|share/quorvel/web/index.html
$data|share/quorvel/grd/DATI_DI_ESEMPIO.txt
$data|share/quorvel/programs/prototipo/pioggeTRNprot.xls
$data|share/doc/quorvel-data/copyright
FILES
dpkg-deb -c "$deb" | grep -E "share/quorvel/(grd|dat|Shp|Raster|programs)/" >/dev/null &&
    fail "the sample region is in quorvel"
# Every manual page has examples, and a NAME line that `apropos pioggia` and
# `apropos rainfall` both find, whatever the reader's language.
dpkg-deb -x "$deb" "$work/deb"
for page in man1/quorvel.1.gz man1/quorvel-batch.1.gz man1/quorvel-server.1.gz it/man1/quorvel.1.gz \
    it/man1/quorvel-batch.1.gz it/man1/quorvel-server.1.gz; do
    case $page in it/*) name=NOME examples=ESEMPI ;; *) name=NAME examples=EXAMPLES ;; esac
    zcat "$work/deb/usr/share/man/$page" >"$work/page"
    line=$(grep -A1 "^\.SH $name" "$work/page" | tail -n 1)
    case $line in *pioggia*rainfall* | *rainfall*pioggia*) ;; *) fail "$page: NAME line $line" ;; esac
    grep -q "^\.SH $examples" "$work/page" || fail "$page: no $examples"
done

# The portable folder, unpacked where a path has spaces, started by its full
# path from the home folder.
mkdir -p "$work/con spazi/e altro" "$work/home"
tar -xzf "$archive" -C "$work/con spazi/e altro"
top="$work/con spazi/e altro/$(basename "$archive" .tar.gz)"
for entry in quorvel quorvel-batch LEGGIMI.txt copyright PACCHETTI-DEBIAN.txt app/Quorvel app/quorvel-batch \
    app/grd/param_a1.ras app/dat/comuniPolyRid.dat app/Raster/demTRNSh.ecw app/programs/prototipo/pioggeTRNprot.xls \
    app/output; do
    [ -e "$top/$entry" ] || fail "$entry missing from $(basename "$archive")"
done
grep -q "^libgdal" "$top/PACCHETTI-DEBIAN.txt" || fail "PACCHETTI-DEBIAN.txt: $(cat "$top/PACCHETTI-DEBIAN.txt")"
cd "$work/home"
status=0
HOME=$work/home "$top/quorvel-batch" --verifica >"$work/out" 2>&1 || status=$?
[ "$status" = 0 ] && tail -n 1 "$work/out" | grep -q "Dati di esempio sintetici" || fail "portable --verifica: $status $(cat "$work/out")"
printf 'id,East,North\nA,2400000,5100000\n' >points.csv
HOME=$work/home "$top/quorvel-batch" points.csv -o results.csv 2>"$work/err" && grep -q "^A,2400000,5100000,140,181," results.csv ||
    fail "portable run: $(cat "$work/err")"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$top/quorvel" 2>"$work/err" || status=$?
[ "$status" = 1 ] && grep -q "serve una sessione grafica" "$work/err" || fail "portable quorvel without display: $status $(cat "$work/err")"

if ! command -v lintian >/dev/null 2>&1; then
    echo "SKIPPED: lintian is not installed (tools/install-deps.sh installs it); the packages were made"
    exit 77
fi
lintian --pedantic --fail-on error,warning --tag-display-limit 0 "$deb" "$data" || fail "lintian"
[ "$failures" = 0 ]
