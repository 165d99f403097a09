#!/bin/bash
# Builds the Debian package, unpacks it into a scratch root and starts the
# unpacked program headless against the unpacked simulator for a moment, as
# the desktop menu starts it (in $HOME), so a broken install fails the tests:
# missing files or dependencies, a program that does not start, does not
# move to its per-user folder, does not open the port or does not end cleanly.
# lintian must find no error in the package.
# Usage: tools/check-package.sh [BUILD]
set -euo pipefail
BUILD="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
SRC="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "package: $*" >&2; exit 1; }

rm -f "$BUILD"/kavetra_*.deb
(cd "$BUILD" && cpack -G DEB >cpack.log 2>&1) || { tail -20 "$BUILD/cpack.log"; fail "cpack failed"; }
DEB="$(ls "$BUILD"/kavetra_*.deb)"
T="$(mktemp -d /tmp/kv-package-XXXXXX)"
SIM="" KV=""
trap '[ -n "$KV" ] && kill -KILL $KV 2>/dev/null; [ -n "$SIM" ] && kill $SIM 2>/dev/null; wait 2>/dev/null; rm -rf "$T"' EXIT

dpkg-deb -x "$DEB" "$T/root"
VERSION="$(sed -n '1s/^kavetra (\([^)]*\)).*/\1/p' "$SRC/packaging/changelog")"
[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "package version is not the changelog's $VERSION"
for f in usr/bin/kavetra usr/bin/kavetra-sim usr/share/applications/kavetra.desktop \
         usr/share/mime/packages/kavetra.xml usr/share/metainfo/io.github.kavetra.Kavetra.metainfo.xml \
         usr/share/doc/kavetra/README.md usr/share/doc/kavetra/copyright usr/share/doc/kavetra/changelog.gz \
         usr/share/man/man1/kavetra.1.gz usr/share/man/man1/kavetra-sim.1.gz etc/kavetra/KVHardware.ini \
         usr/share/icons/hicolor/scalable/apps/kavetra.svg; do
  [ -e "$T/root/$f" ] || fail "/$f is not in the package"
done
for s in 48 64 128 256; do
  f="usr/share/icons/hicolor/${s}x$s/apps/kavetra.png"
  file "$T/root/$f" | grep -q "$s x $s" || fail "/$f is missing or not $s px"
done
dpkg-deb --ctrl-tarfile "$DEB" | tar -xO ./conffiles | grep -qx /etc/kavetra/KVHardware.ini ||
  fail "/etc/kavetra/KVHardware.ini is not a conffile"
! grep -q 'run\.sh\|test\.sh' "$T/root/usr/share/doc/kavetra/README.md" || fail "the package's README speaks of the source tree"
# Two builds of one commit give the same bytes (time stamps from the changelog).
(cd "$BUILD" && cpack -G DEB -B "$T/again" >"$T/cpack-again.log" 2>&1) || fail "the second cpack failed"
cmp -s "$DEB" "$T/again/$(basename "$DEB")" || fail "two builds of one commit give different packages"
desktop-file-validate "$T/root/usr/share/applications/kavetra.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "$T/root/usr/share/metainfo/io.github.kavetra.Kavetra.metainfo.xml" \
  >"$T/appstream.log" 2>&1 || { cat "$T/appstream.log" >&2; fail "the AppStream metainfo is not valid"; }
# --version prints and ends: nothing written into an empty folder (nor its home).
mkdir "$T/empty"
V="$(cd "$T/empty" && env -u XDG_DATA_HOME HOME="$T/empty" "$T/root/usr/bin/kavetra" --version)" ||
  fail "kavetra --version ended with $?"
[ "$V" = "kavetra $VERSION" ] || fail "kavetra --version printed \"$V\""
[ -z "$(ls -A "$T/empty")" ] || fail "kavetra --version wrote into its folder: $(ls -A "$T/empty")"
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$DEB" >"$BUILD/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$BUILD/lintian.log"; then grep '^E: ' "$BUILD/lintian.log" >&2; fail "lintian reports errors"; fi
  if grep -q 'hardening-' "$BUILD/lintian.log"; then grep 'hardening-' "$BUILD/lintian.log" >&2; fail "lintian reports unhardened binaries"; fi
  LINTIAN="lintian: $(grep -c '^W: ' "$BUILD/lintian.log" || true) warnings, no error, no hardening tag"
else
  fail "lintian is missing (tools/setup.sh installs it)"
fi
DEPENDS="$(dpkg-deb -f "$DEB" Depends)"
for d in libqt6websockets6; do
  [ "$(grep -oE "(^|[ ,])$d( |,|$)" <<<"$DEPENDS" | wc -l)" = 1 ] || fail "Depends does not name $d once: $DEPENDS"
done
for d in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 qt6-qpa-plugins libqt6websockets6; do
  [[ "$DEPENDS" == *"$d"* ]] || fail "Depends lacks $d: $DEPENDS"
done

"$T/root/usr/bin/kavetra-sim" --link "$T/sim.pty" --log "$T/sim.log" >"$T/sim.out" 2>&1 &
SIM=$!
for _ in $(seq 50); do [ -e "$T/sim.pty" ] && break; sleep 0.1; done
[ -e "$T/sim.pty" ] || fail "kavetra-sim did not start"
HOME="$T/home"
OWN="$HOME/.local/share/kavetra"
mkdir -p "$OWN"
printf '[COMPortSettings]\r\nPort=%s\r\n' "$T/sim.pty" >"$OWN/KVSettings.ini"
(cd "$HOME" && exec env -u XDG_DATA_HOME HOME="$HOME" QT_QPA_PLATFORM=offscreen \
   "$T/root/usr/bin/kavetra" 2>"$T/kavetra.err") &
KV=$!
PTS="$(readlink -f "$T/sim.pty")"
up=""
for _ in $(seq 100); do
  if grep -q "Working folder: $OWN (the per-user folder" "$T/kavetra.err" 2>/dev/null &&
     ls -l /proc/$KV/fd 2>/dev/null | grep -q " $PTS\$"; then up=1; break; fi
  sleep 0.1
done
[ -n "$up" ] || { cat "$T/kavetra.err"; fail "the installed program did not start in $OWN on the simulator's port"; }
kill -TERM $KV
wait $KV || fail "the installed program ended with status $?"
KV=""
cmp -s "$OWN/LastDefinitions.dip" "$SRC/packaging/LastDefinitions.dip" || fail "no example recipe in $OWN"
# With the package installed on this machine, its /etc file stands in for the own one.
if [ ! -e /etc/kavetra/KVHardware.ini ]; then
  grep -q '^FileStatus=1' "$OWN/KVHardware.ini" || fail "the shut-down did not write $OWN/KVHardware.ini"
fi
echo "package: $(basename "$DEB") ($(du -k "$DEB" | cut -f1) KiB) installs and starts; $LINTIAN; Depends: $DEPENDS"
