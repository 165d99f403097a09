#!/bin/bash
# Installs what the build and the tests need (Debian 12, as root), then
# configures and builds into ./build. Sourced by run.sh and test.sh.
# (libqt6opengl6-dev: Qt Charts' CMake files need it, and Debian 12's
# qt6-charts-dev does not pull it in.)
set -e
KV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KV_BUILD="${KV_BUILD:-$KV_ROOT/build}"

kv_need=()
for p in build-essential cmake ninja-build libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler libssl-dev pkg-config libavahi-client-dev qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev libgtest-dev \
         fonts-liberation locales xvfb xauth clang libclang-rt-14-dev \
         xdotool imagemagick dpkg-dev file lintian poppler-utils \
         qt6-websockets-dev chromium zlib1g-dev appstream desktop-file-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || kv_need+=("$p")
done
if [ ${#kv_need[@]} -gt 0 ]; then
  echo "Installing: ${kv_need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update </dev/null
  apt-get install -y --no-install-recommends "${kv_need[@]}" </dev/null
fi
# A locale with a decimal comma, so tests can prove conversions ignore it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [ -f /etc/locale.gen ]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi

kv_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    # A compiler cache, where the machine has one, spares rebuilding what a
    # tree beside this one already compiled.
    local cache=()
    command -v ccache >/dev/null && cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S "$KV_ROOT" -B "$dir" -G Ninja "${cache[@]}" "$@" </dev/null
  fi
  cmake --build "$dir" -j"$(nproc)" </dev/null
}
