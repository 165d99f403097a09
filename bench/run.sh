#!/bin/bash
# Builds what the benchmarks need and prints one line per figure
# ("name: value unit"). Takes about a minute; the figures are timings of
# this machine, so run it on an otherwise quiet one.
set -e
source "$(dirname "$0")/../tools/setup.sh"
kv_build "$KV_BUILD"
export QT_QPA_PLATFORM=offscreen
cd "$KV_BUILD"
for b in serial_exchange motion_bench dip_cycle fast_replies estimate startup_memory recipe_io day_log \
         plot_window remote_load sila_load; do
  ./"$b" 2>/dev/null </dev/null | grep -E '^[A-Za-z0-9_%]+: ' || echo "$b: failed"
done
