#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Quellar.
# With arguments it runs the command-line tool: ./run.sh compare a.xlsx b.xlsx -o out.xlsx
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
"$here/scripts/build.sh" >&2
if [ $# -gt 0 ]; then
  exec "$here/build/cli/quellar-cli" "$@"
fi
if [ -x "$here/build/gui/quellar" ]; then
  exec "$here/build/gui/quellar"
fi
echo "窗口程序尚未完成，现在运行命令行工具 quellar-cli：" >&2
exec "$here/build/cli/quellar-cli" --help
