#!/usr/bin/env bash
# Formats the C++ sources with the repository's .clang-format: the files given, else every
# file changed against HEAD (and the untracked ones). Installs clang-format when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh format
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <({ git diff --name-only HEAD; git ls-files --others --exclude-standard; } |
    grep -E '\.(cpp|h)$' | sort -u)
fi
for f in "${files[@]}"; do [ -f "$f" ] && clang-format -i "$f"; done
echo "format: ${#files[@]} files"
