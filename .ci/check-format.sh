#!/usr/bin/env bash
# Checks that every C++ file the repository keeps is laid out as .clang-format says.
# Prints the files that are not and exits 1 if any; `--fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- '*.h' '*.cpp')
if [[ ${1:-} == --fix ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
# One run over all files; each complaint starts with the file's name.
mapfile -t off < <(clang-format --dry-run "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning:.*/\1/p' | sort -u)
if ((${#off[@]})); then
    printf '%s\n' "${off[@]}"
    echo "${#off[@]} file(s) not laid out as .clang-format says (.ci/check-format.sh --fix)"
    exit 1
fi
echo "format: ok (${#files[@]} files)"
