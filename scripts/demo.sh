#!/usr/bin/env bash
# Builds the relay agent for Linux and shows it working.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/deps.sh
cmake --preset linux -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build/linux -j "$(nproc)" --target qln
bin=build/linux/bin
echo "== qln -v"
"$bin/qln" -v
echo "== qln -x (usage, exit status 255)"
"$bin/qln" -x || echo "exit status $?"
