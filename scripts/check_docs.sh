#!/usr/bin/env bash
# Texts that the docs show as the programs write them must be what the
# programs write: the usage lines of docs/operating.md against `qln -h`.
#   scripts/check_docs.sh BUILD_BIN_DIR
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: check_docs.sh BUILD_BIN_DIR}
status=0

# The fenced block right after the "## Command line" heading.
documented=$(awk '/^## Command line$/ {on=1; next}
                  on && /^```/ {if (inside) exit; inside=1; next}
                  inside {print}' "$top/docs/operating.md")
written=$("$bin/qln" -h 2>&1 | sed -e '/^$/d')
if [ "$documented" != "$written" ]; then
  echo "docs/operating.md: the usage lines differ from what qln -h writes:" >&2
  diff <(printf '%s\n' "$documented") <(printf '%s\n' "$written") >&2
  status=1
fi
exit $status
