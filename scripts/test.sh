#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (Qt's offscreen platform: no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2
