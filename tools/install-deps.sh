#!/usr/bin/env bash
# Installs the Debian 12 packages sheetmerge needs to build, test and run.
# Run as root, or it uses sudo.
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config
    clang-format                        # the format check of the test script
    zlib1g-dev libexpat1-dev            # deflate/inflate; streaming XML
    libisal-dev                         # fast deflate and CRC-32 of the result rows
    nettle-dev                          # AES, SHA, MD5, RC4 for password-protected sources
    qt6-base-dev                        # desktop program (Widgets, Test)
    libgtest-dev libgmock-dev           # engine and merge tests
    python3 python3-openpyxl python3-xlrd  # independent readers used as test oracles
    libreoffice-calc-nogui              # a real client reading the results in the tests
    xvfb xauth fonts-noto-cjk           # widget screenshots and CJK glyphs
    unicode-data                        # CaseFolding.txt for tools/make_case_folding.py
    qt6-translations-l10n               # Qt's own Chinese texts (file dialogs), also at run time
    openbox xdotool imagemagick         # the keyboard walk (tools/keyboard_walk.sh)
    bash-completion                     # the completion test
    dpkg-dev file lintian               # the Debian package: dependencies, checks
    desktop-file-utils appstream        # checks of the menu entry and the AppStream metadata
)
as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
# expat from the security updates (entity-expansion and allocation fixes).
"${as_root[@]}" apt-get install -y -qq --only-upgrade libexpat1 libexpat1-dev >/dev/null || true
