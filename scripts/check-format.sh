#!/usr/bin/env bash
# Checks that every C++ source and header follows .clang-format (clang-format 14) and lists
# the files that do not; `clang-format -i FILE` puts one right.
set -euo pipefail
cd "$(dirname "$0")/.."
fmt="${CLANG_FORMAT:-clang-format-14}"
command -v "$fmt" >/dev/null 2>&1 || fmt=clang-format
bad=()
while IFS= read -r file; do
  "$fmt" --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done < <(git ls-files '*.cpp' '*.h')
if [ ${#bad[@]} -gt 0 ]; then
  echo "这些文件的格式与 .clang-format 不符（用 clang-format -i 修正）：" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
