#!/bin/bash
# Installs, builds and runs every test. Exits non-zero on any failure.
#  0. no include against the order of the layers (tools/check-layers.sh);
#  1. the plain build: every test (unit, end-to-end,
#     the real-window smoke test), then the Debian package built, unpacked
#     into a scratch root and its program started (tools/check-package.sh);
#  2. the unit tests again under AddressSanitizer and UBSan;
#  3. the serial tests under ThreadSanitizer (the worker thread);
#  4. each fuzz target for a few seconds from its seed corpus (with clang).
# KV_QUICK=1 runs step 1 only.
set -e
source "$(dirname "$0")/tools/setup.sh"
export QT_QPA_PLATFORM=offscreen

echo "=== layers"
"$KV_ROOT/tools/check-layers.sh"
kv_build "$KV_BUILD"
(cd "$KV_BUILD" && ctest --output-on-failure -j2 </dev/null)
echo "=== the Debian package, unpacked and started"
"$KV_ROOT/tools/check-package.sh" "$KV_BUILD" </dev/null
[ -n "$KV_QUICK" ] && exit 0

echo "=== unit tests under AddressSanitizer and UBSan"
kv_build "$KV_ROOT/build-asan" -DKV_SANITIZE=ON
(cd "$KV_ROOT/build-asan" &&
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 -LE 'e2e|smoke' </dev/null)

echo "=== serial tests under ThreadSanitizer"
TS="$KV_ROOT/build-tsan"
[ -f "$TS/build.ninja" ] || cmake -S "$KV_ROOT" -B "$TS" -G Ninja -DKV_TSAN=ON </dev/null
cmake --build "$TS" -j"$(nproc)" --target test_serial </dev/null
(cd "$TS" && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j2 -L serial </dev/null)

if command -v clang++ >/dev/null; then
  echo "=== fuzz targets"
  FZ="$KV_ROOT/build-fuzz"
  if [ ! -f "$FZ/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$KV_ROOT" -B "$FZ" -G Ninja -DKV_FUZZ=ON </dev/null
  fi
  targets=$(cd "$KV_ROOT/tests/fuzz" && ls *.cpp | sed 's/\.cpp$//')
  cmake --build "$FZ" -j"$(nproc)" --target $(for t in $targets; do echo "fuzz_$t"; done) </dev/null
  for t in $targets; do
    work="$FZ/corpus-$t"
    rm -rf "$work"; mkdir -p "$work"
    cp "$KV_ROOT/tests/fuzz/corpus/$t/"* "$work/" 2>/dev/null || true
    echo "--- fuzz_$t"
    ASAN_OPTIONS=detect_leaks=0 "$FZ/fuzz_$t" -max_total_time="${KV_FUZZ_SECONDS:-4}" \
      -timeout=5 -rss_limit_mb=2048 -print_final_stats=0 -artifact_prefix="$FZ/" "$work" </dev/null 2>"$FZ/fuzz_$t.log" ||
      { tail -40 "$FZ/fuzz_$t.log"; echo "fuzz_$t found a fault"; exit 1; }
    tail -1 "$FZ/fuzz_$t.log"
  done
fi
echo "=== all tests passed"
