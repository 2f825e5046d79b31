#!/bin/sh
# debian-packages.sh OUT PROGRAM...: writes into OUT the Debian packages the
# portable folder needs: those whose libraries the programs link, as
# dpkg-shlibdeps finds them, and those the .deb adds by hand.
set -eu
out=$1
shift
work=$(mktemp -d /tmp/quorvel-shlibdeps.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian"
printf 'Source: quorvel\n\nPackage: quorvel\nArchitecture: any\n' >"$work/debian/control"
for program do
    set -- "$@" -e"$(readlink -f "$program")"
    shift
done
# Its warning that the programs are not yet where a package puts them says nothing here.
if ! (cd "$work" && dpkg-shlibdeps -O "$@") >"$work/found" 2>"$work/said"; then
    cat "$work/said" >&2
    exit 1
fi
depends=$(sed -n 's/^shlibs:Depends=//p' "$work/found")
mkdir -p "$(dirname "$out")"
{
    echo "# Pacchetti Debian 12 che servono a Quorvel / Debian 12 packages Quorvel needs."
    echo "# Installarli tutti / install them all:"
    echo "#   sudo apt install \$(grep -v '^#' PACCHETTI-DEBIAN.txt | cut -d' ' -f1)"
    printf '%s\n' "$depends, qt6-translations-l10n, fonts-dejavu-core, xdg-utils" | tr ',' '\n' | sed 's/^ *//' |
        LC_ALL=C sort -u
} >"$out"
