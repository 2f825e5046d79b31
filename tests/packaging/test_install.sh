#!/bin/sh
# test_install.sh BUILD_DIR: installs the build into a scratch prefix and uses
# it as a user would, with a scratch home: quorvel prepares the user's folder,
# mends its own links after the installation moved, keeps what the user put
# there, never completes the user's data with the sample's, refuses in Italian
# what it cannot use, and stands many launchers at once; the installed
# quorvel-batch, run from elsewhere, gives the build's results, and its check
# writes nothing.
set -eu
build=$(readlink -f "$1")
work=$(mktemp -d /tmp/quorvel-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
unset QUORVEL_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The installation is first made in one place and prepares the folder from
# there, then moves, as from a `cmake --install` prefix to the package's.
cmake --install "$build" --prefix "$work/old" >/dev/null
bin=$work/prefix/bin
data=$work/prefix/share/quorvel

# What a folder holds: each entry, and where it leads when it is a link.
listing() {
    find "$1" -mindepth 1 -maxdepth 1 \( -type l -printf '%f -> %l\n' \) -o \( -type d -printf '%f/\n' \) \
        -o -printf '%f\n' | LC_ALL=C sort
}
# Everything under a folder with its time, to tell that nothing was written.
snapshot() {
    find "$1" -printf '%p %y %T@ %l\n' | LC_ALL=C sort
}
expected_in() {
    printf '%s\n' ".quorvel-collegamenti" "Quorvel -> $1/libexec/quorvel/Quorvel" "Raster -> $1/share/quorvel/Raster" \
        "Shp -> $1/share/quorvel/Shp" "dat -> $1/share/quorvel/dat" "grd -> $1/share/quorvel/grd" "output/" \
        "programs -> $1/share/quorvel/programs"
}

export HOME="$work/home"
mkdir -p "$HOME"
"$work/old/bin/quorvel" --prepara >"$work/out" 2>&1 || fail "first preparation: $(cat "$work/out")"
[ "$(listing "$HOME/Quorvel")" = "$(expected_in "$work/old")" ] || fail "prepared folder: $(listing "$HOME/Quorvel")"
grep -q "collegato grd -> $work/old/share/quorvel/grd" "$work/out" || fail "--prepara did not say what it did: $(cat "$work/out")"
[ -s "$HOME/Quorvel/programs/prototipo/pioggeTRNprot.xls" ] || fail "no template through the link"

# The user's own grids and an earlier report survive; the moved installation's
# links are all mended by one start, and the next finds nothing to do.
touch "$HOME/Quorvel/output/Piogge.xls"
rm "$HOME/Quorvel/grd"
cp -R "$work/old/share/quorvel/grd" "$HOME/Quorvel/grd"
# Grids of one's own do not carry the sample's mark.
rm "$HOME/Quorvel/grd/DATI_DI_ESEMPIO.txt"
touch "$HOME/Quorvel/grd/user-copy"
mv "$work/old" "$work/prefix"
"$bin/quorvel" --prepare >"$work/out" 2>&1 || fail "preparation after the move: $(cat "$work/out")"
[ "$(grep -c "riparato" "$work/out")" = 5 ] || fail "links mended: $(cat "$work/out")"
[ "$(listing "$HOME/Quorvel")" = "$(expected_in "$work/prefix" | sed 's|^grd -> .*|grd/|' | LC_ALL=C sort)" ] ||
    fail "folder after the move: $(listing "$HOME/Quorvel")"
[ -f "$HOME/Quorvel/grd/user-copy" ] || fail "the user's grd/ was replaced"
[ -f "$HOME/Quorvel/output/Piogge.xls" ] || fail "a report went missing"
"$bin/quorvel" --prepara >"$work/out" 2>&1 && grep -q "già pronta" "$work/out" || fail "third start: $(cat "$work/out")"

# A QUORVEL_HOME read from a file keeps its line end: the folder is the one without it.
QUORVEL_HOME="$work/from-file
" "$bin/quorvel" --prepare >"$work/out" 2>&1 || fail "QUORVEL_HOME with a line end: $(cat "$work/out")"
[ -d "$work/from-file/output" ] || fail "QUORVEL_HOME with a line end: no $work/from-file/output"

# Folders that cannot be used: the status, the reason in Italian on standard
# error, each problem once, and the folder left exactly as it was.
touch "$work/a-file"
mkdir -p "$work/broken" "$work/own/Shp" "$work/own/dat" "$work/own/programs" "$work/own/Raster" "$work/mixed"
ln -s "$work/gone" "$work/broken/Raster"
cp -R "$work/own/." "$work/mixed/"
ln -s "$data/grd" "$work/mixed/grd"
while IFS='|' read -r label folder problems reason; do
    before=$(snapshot "$folder" 2>/dev/null || true)
    status=0
    QUORVEL_HOME=$folder "$bin/quorvel" --prepara >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] || fail "$label: status $status"
    [ ! -s "$work/out" ] || fail "$label: standard output $(cat "$work/out")"
    [ "$(grep -c '^- ' "$work/err")" = "$problems" ] || fail "$label: not $problems problems: $(cat "$work/err")"
    grep -q "$reason" "$work/err" && head -n 1 "$work/err" | grep -q "^quorvel: " || fail "$label: $(cat "$work/err")"
    [ "$(snapshot "$folder" 2>/dev/null || true)" = "$before" ] || fail "$label: the folder changed"
done <<CASES
file where the folder should be|$work/a-file|0|è un file, non una cartella
folder that cannot be made|$work/a-file/Quorvel|0|Impossibile creare la cartella di Quorvel
a link of the user's to nothing|$work/broken|2|punta a «$work/gone», che non esiste
the user's data without grd|$work/own|1|ci sono dati propri (dat, Shp, Raster, programs), ma mancano: grd\.
the sample's grids beside the user's data|$work/mixed|1|collegamento alle griglie di esempio sintetiche
CASES

# The check of the installed command examines the folder as it is and writes nothing.
for folder in "$work/own" "$work/mixed"; do
    before=$(snapshot "$folder")
    status=0
    QUORVEL_HOME=$folder "$bin/quorvel-batch" --verifica >"$work/out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "--verifica of $folder: status $status"
    [ "$(snapshot "$folder")" = "$before" ] || fail "--verifica wrote into $folder"
done
QUORVEL_HOME=$work/own "$bin/quorvel-batch" --verifica 2>&1 | grep -q "^ERRORE grd/param_a2.hdr: manca" ||
    fail "--verifica does not name the missing grd"
QUORVEL_HOME=$work/mixed "$bin/quorvel-batch" --verifica 2>&1 | grep -q "^ERRORE grd: .*esempio" ||
    fail "--verifica does not name grd as the sample's"

# Two or three launchers at once on a new folder, twenty times over: every one
# succeeds, and the folder ends as one launcher leaves it.
round=1
while [ "$round" -le 20 ]; do
    folder=$work/race/$round
    pids=
    for launcher in $(seq $((2 + round % 2))); do
        QUORVEL_HOME=$folder "$bin/quorvel" --prepara >"$work/race-$round-$launcher" 2>&1 &
        pids="$pids $!"
    done
    for pid in $pids; do
        wait "$pid" || fail "round $round: a launcher failed: $(cat "$work/race-$round"-*)"
    done
    [ "$(listing "$folder")" = "$(expected_in "$work/prefix")" ] || fail "round $round: $(listing "$folder")"
    round=$((round + 1))
done

# The sample's data say what they are; grids of one's own, without the mark, do not.
QUORVEL_HOME=$HOME/fresh "$bin/quorvel-batch" --verifica >/dev/null 2>&1 && fail "--verifica of no folder succeeded"
[ ! -e "$HOME/fresh" ] || fail "--verifica made the folder it was to check"
QUORVEL_HOME=$HOME/fresh "$bin/quorvel" --prepara >/dev/null 2>&1
QUORVEL_HOME=$HOME/fresh "$bin/quorvel-batch" --verifica >"$work/out" 2>&1 || fail "--verifica of the sample: $(cat "$work/out")"
tail -n 1 "$work/out" | grep -q "Dati di esempio sintetici – non usare per la progettazione" ||
    fail "--verifica of the sample: $(tail -n 1 "$work/out")"
QUORVEL_HOME=$HOME/Quorvel "$bin/quorvel-batch" --verifica >"$work/out" 2>&1 || fail "--verifica of own grids: $(cat "$work/out")"
tail -n 1 "$work/out" | grep -q "tutto in ordine" || fail "--verifica of own grids: $(tail -n 1 "$work/out")"
! grep -q "sintetic" "$work/out" || fail "--verifica of own grids calls them synthetic"

# The installed quorvel-batch, from another folder with a fresh home, gives the
# build tree's results; its files are relative to where it is run. On the
# sample's grids it warns once on standard error.
points='id,East,North
A,2400000,5100000
B,2385123.5,5100001.5
C,2451234,5153210
D,2300000,5100000'
(cd "$build/app" && printf '%s\n' "$points" | ./quorvel-batch - >"$work/expected.csv" 2>/dev/null) || true
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
[ "$(grep -c "Dati di esempio sintetici" "$work/err")" = 1 ] || fail "sample warning: $(cat "$work/err")"

# No display: Quorvel says in Italian that it needs one, before Qt could abort.
status=0
"$bin/quorvel" >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] && grep -q "serve una sessione grafica" "$work/err" || fail "no display: status $status, $(cat "$work/err")"

for option in -o --output --reports --pdf --folder --cartella --check --verifica --help; do
    "$bin/quorvel-batch" --help | grep -q -- "$option\b" || fail "quorvel-batch --help says nothing of $option"
done

[ "$failures" = 0 ]
