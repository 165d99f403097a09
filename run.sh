#!/bin/bash
# Builds if needed and starts the operator program.
set -e
source "$(dirname "$0")/tools/setup.sh"
kv_build "$KV_BUILD"
cd "$KV_ROOT"
exec "$KV_BUILD/kavetra" "$@"
