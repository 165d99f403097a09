#!/bin/bash
# Installs, builds and runs every test. Exits non-zero on any failure.
set -e
source "$(dirname "$0")/tools/setup.sh"
kv_build "$KV_BUILD"
export QT_QPA_PLATFORM=offscreen
cd "$KV_BUILD"
ctest --output-on-failure -j2 -LE 'soak-long' </dev/null
