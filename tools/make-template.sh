#!/usr/bin/env bash
# Regenerates the report template sampledata/template/pioggeTRNprot.xls (Excel 97-2003)
# from its editable source pioggeTRNprot.fods with headless LibreOffice. The build only
# copies the committed .xls, so run this after editing the source and commit both.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
src=$here/sampledata/template/pioggeTRNprot.fods
work=$(mktemp -d /tmp/quorvel-template.XXXXXX)
trap 'rm -rf "$work"' EXIT

# A private profile, so that a LibreOffice the user has open neither blocks nor alters the run.
soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
    --convert-to 'xls:MS Excel 97' --outdir "$work" "$src" >/dev/null
cp "$work/pioggeTRNprot.xls" "$here/sampledata/template/pioggeTRNprot.xls"
echo "written $here/sampledata/template/pioggeTRNprot.xls"
