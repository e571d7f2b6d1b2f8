#!/usr/bin/env bash
# Installs what building and testing Tablora needs, only when something is missing.
# Debian/Ubuntu; needs root (or sudo) the first time.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libzip-dev zlib1g-dev
          python3 python3-ezdxf python3-openpyxl locales libexpat1-dev libisal-dev
          fp-utils libchm-dev libchm-bin)
# --with-clang: the fuzz build's compiler and the formatter CI checks the layout
# with. --with-calc: LibreOffice Calc, its SDK (the Calc backend is built only where
# it is found) and python3-uno (the Calc tests' user at the keyboard). Calc is the full build: the -nogui one aborts shortly after a
# typed cell.
for option in "$@"; do
    case "$option" in
        --with-clang) packages+=(clang clang-format) ;;
        --with-calc) packages+=(libreoffice-calc libreoffice-dev python3-uno) ;;
        # --with-npm: what installs the OOXML validator (.ci/install-validator.sh); a
        # machine with its own Node.js and npm keeps them.
        --with-npm) command -v npm >/dev/null || packages+=(nodejs npm) ;;
        *) echo "usage: $0 [--with-clang] [--with-calc] [--with-npm]" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
