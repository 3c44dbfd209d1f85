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
exec "$here/build/gui/quellar"
