#!/usr/bin/env bash
# Installs what is needed, builds the programs and starts the system on a
# local demo database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/firebird-start.sh >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
echo "demo: built into build/bin; the Bridge server and the demo database follow."
