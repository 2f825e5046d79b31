#!/bin/sh
# test_install.sh BUILD_DIR: installs the build into a scratch prefix and uses
# it as a user would, with a scratch home: quorvel prepares the user's folder,
# again, keeps what the user put there, refuses in Italian what it cannot use;
# the installed quorvel-batch, run from elsewhere, gives the build's results.
set -eu
build=$(readlink -f "$1")
work=$(mktemp -d /tmp/quorvel-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset QUORVEL_HOME DISPLAY WAYLAND_DISPLAY
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
bin=$work/prefix/bin
programs=$work/prefix/libexec/quorvel
data=$work/prefix/share/quorvel

# What a folder holds: each entry, and where it leads when it is a link.
listing() {
    find "$1" -mindepth 1 -maxdepth 1 \( -type l -printf '%f -> %l\n' \) -o \( -type d -printf '%f/\n' \) \
        -o -printf '%f\n' | LC_ALL=C sort
}

export HOME="$work/home"
mkdir -p "$HOME"
"$bin/quorvel" --prepara >"$work/out" 2>&1 || fail "first preparation: $(cat "$work/out")"
expected="Quorvel -> $programs/Quorvel
Raster -> $data/Raster
Shp -> $data/Shp
dat -> $data/dat
grd -> $data/grd
output/
programs -> $data/programs"
[ "$(listing "$HOME/Quorvel")" = "$expected" ] || fail "prepared folder: $(listing "$HOME/Quorvel")"
[ -s "$HOME/Quorvel/programs/prototipo/pioggeTRNprot.xls" ] || fail "no template through the link"

# A report written before, and the user's own grids, survive later runs.
touch "$HOME/Quorvel/output/Piogge.xls"
rm "$HOME/Quorvel/grd"
cp -R "$data/grd" "$HOME/Quorvel/grd"
touch "$HOME/Quorvel/grd/user-copy"
"$bin/quorvel" --prepare >"$work/out" 2>&1 || fail "second preparation: $(cat "$work/out")"
[ -f "$HOME/Quorvel/grd/user-copy" ] && [ ! -L "$HOME/Quorvel/grd" ] || fail "the user's grd/ was replaced"
[ -f "$HOME/Quorvel/output/Piogge.xls" ] || fail "a report went missing"

# A QUORVEL_HOME read from a file keeps its line end: the folder is the one without it.
QUORVEL_HOME="$work/from-file
" "$bin/quorvel" --prepare >"$work/out" 2>&1 || fail "QUORVEL_HOME with a line end: $(cat "$work/out")"
[ -d "$work/from-file/output" ] || fail "QUORVEL_HOME with a line end: no $work/from-file/output"

# Folders that cannot be used: the status, and the reason in Italian on standard error.
touch "$work/a-file"
mkdir -p "$work/broken"
ln -s "$work/gone" "$work/broken/Raster"
while IFS='|' read -r label folder reason; do
    status=0
    QUORVEL_HOME=$folder "$bin/quorvel" --prepara >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] || fail "$label: status $status"
    [ ! -s "$work/out" ] || fail "$label: standard output $(cat "$work/out")"
    grep -q "^quorvel: .*$reason" "$work/err" || fail "$label: $(cat "$work/err")"
done <<CASES
file where the folder should be|$work/a-file|è un file, non una cartella
folder that cannot be made|$work/a-file/Quorvel|Impossibile creare la cartella di Quorvel
broken link|$work/broken|punta a «$work/gone», che non esiste
CASES

# The installed quorvel-batch, from another folder with a fresh home, gives the
# build tree's results; its files are relative to where it is run.
points='id,East,North
A,2400000,5100000
B,2385123.5,5100001.5
C,2451234,5153210
D,2300000,5100000'
(cd "$build/app" && printf '%s\n' "$points" | ./quorvel-batch - >"$work/expected.csv") || true
export HOME="$work/home2"
mkdir -p "$HOME" "$work/elsewhere"
cd "$work/elsewhere"
printf '%s\n' "$points" >points.csv
status=0
"$bin/quorvel-batch" points.csv -o results.csv --reports reports 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "installed quorvel-batch: status $status, $(cat "$work/err")"
cmp -s results.csv "$work/expected.csv" || fail "installed quorvel-batch: $(diff results.csv "$work/expected.csv")"
[ -s reports/A.xls ] || fail "installed quorvel-batch wrote no report A.xls"
[ -d "$HOME/Quorvel/output" ] || fail "quorvel-batch did not prepare the user's folder"

"$bin/quorvel-batch" --help | grep -q -- "--cartella" || fail "quorvel-batch --help says nothing of --cartella"

[ "$failures" = 0 ]
