#!/bin/sh
# Rebuilds the fixtures of tests/data/xls (see make_fixtures.py and tests/data/README.md).
# LibreOffice 7.4 (Debian 12) has no "MS Excel 95" export any more, so the BIFF5 file is crafted.
# Needs: apt-get install -y libreoffice-calc-nogui python3-openpyxl
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_fixtures.py" source "$work/grid.xlsx"
profile="-env:UserInstallation=file://$work/profile"
mkdir "$work/xls" "$work/xlsx"
soffice $profile --headless --convert-to 'xls:MS Excel 97' --outdir "$work/xls" "$work/grid.xlsx" >/dev/null
soffice $profile --headless --convert-to 'xlsx:Calc MS Excel 2007 XML' --outdir "$work/xlsx" "$work/grid.xlsx" >/dev/null
# Rich text as a real program writes it in a BIFF8 shared-string table.
soffice $profile --headless --convert-to 'xls:MS Excel 97' --outdir "$work/xls" "$here/../xlsx/rich_text_runs.xlsx" >/dev/null
cp "$work/xls/rich_text_runs.xls" "$here/rich_text_sst.xls"
cp "$work/xls/grid.xls" "$here/grid.xls"
cp "$work/xlsx/grid.xlsx" "$here/grid.xlsx"
/usr/bin/python3 "$here/make_fixtures.py" crafted
