#!/usr/bin/env bash
# Every C++ file of the tree is as the tree's .clang-format writes it, with
# Debian 12's clang-format (14): another version formats some lines its own
# way, so another version is refused rather than trusted.
#   scripts/check_format.sh          lists the files that differ (exit 1)
#   scripts/check_format.sh --fix    formats them in place
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

tool=""
for t in clang-format-14 clang-format; do
  if command -v "$t" >/dev/null && "$t" --version | grep -q 'version 14\.'; then
    tool=$t
    break
  fi
done
if [ -z "$tool" ]; then
  echo "check_format: clang-format 14 is not installed (Debian package clang-format)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
if [ "${1:-}" = "--fix" ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
# One run over every file; each line that differs is reported as
# "FILE:LINE:COL: error: code should be clang-formatted".
bad=$("$tool" --dry-run -Werror "${files[@]}" 2>&1 | grep -o '^[^:]*:[0-9]*:[0-9]*: error' |
      cut -d: -f1 | sort -u)
if [ -n "$bad" ]; then
  sed 's/$/: not formatted (scripts\/check_format.sh --fix)/' <<<"$bad" >&2
  exit 1
fi
