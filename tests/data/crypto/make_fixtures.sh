#!/bin/sh
# Rebuilds the fixtures of tests/data/crypto (see tests/data/README.md).
# Needs: libreoffice-calc-nogui, python3-uno, node with officecrypto-tool in a scratch folder:
#   (mkdir -p /tmp/cryptotool && cd /tmp/cryptotool && npm install officecrypto-tool@0.0.19)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
modules=${CRYPTOTOOL_MODULES:-/tmp/cryptotool/node_modules}
NODE_PATH=$modules node "$here/make_xlsx_fixtures.js"
/usr/bin/python3 "$here/libreoffice_export.py" "$here/../xls/grid.xls" "$here/libreoffice_plain_grid.xls" "" "MS Excel 97"
/usr/bin/python3 "$here/libreoffice_export.py" "$here/../xls/grid.xls" "$here/libreoffice_rc4_grid.xls" lo-Pass1 "MS Excel 97"
/usr/bin/python3 "$here/libreoffice_export.py" "$here/../xls/grid.xls" "$here/libreoffice_default_password_grid.xls" VelvetSweatshop "MS Excel 97"
/usr/bin/python3 "$here/make_fixtures.py"
# The independent decryption of the crafted .xls files; compare the copies with grid.xls, e.g.
#   sheetmerge cat /tmp/crypto-check/xor_grid.xls | diff - <(sheetmerge cat ../xls/grid.xls)
NODE_PATH=$modules node "$here/check_xls_fixtures.js" /tmp/crypto-check
