#!/bin/bash
# Builds if needed and starts the operator program in ./workdir against the
# simulated robot (build/veri-sim on a pseudo-terminal). If KVSettings.ini in
# ./workdir names a port of your own (Port=/dev/ttyUSB0, COM1, ...), the
# simulator is not started and the program talks to that port.
set -e
source "$(dirname "$0")/tools/setup.sh"
kv_build "$KV_BUILD"

WORK="${KV_WORKDIR:-$KV_ROOT/workdir}"
mkdir -p "$WORK"
cd "$WORK"
LINK="$WORK/veri-sim.pty"
INI="$WORK/KVSettings.ini"

# The port named in [COMPortSettings], if any (section and key case-insensitive).
current_port() {
  [ -f "$INI" ] || return 0
  awk 'BEGIN{IGNORECASE=1} {sub(/\r$/,"")}
       /^[ \t]*\[/ {sec=tolower($0); gsub(/[ \t\[\]]/,"",sec); next}
       sec=="comportsettings" && tolower($0) ~ /^[ \t]*port[ \t]*=/ {
         v=$0; sub(/^[^=]*=[ \t]*/,"",v); sub(/[ \t]+$/,"",v); print v; exit }' "$INI"
}

# Points Port at the simulator, keeping every other line as it is.
set_port() {
  local tmp="$INI.tmp.$$"
  if [ ! -f "$INI" ]; then
    printf '[COMPortSettings]\r\nPort=%s\r\n' "$1" > "$tmp"
  else
    awk -v port="$1" '
      {cr = sub(/\r$/,""); eol = cr ? "\r\n" : "\n"}
      /^[ \t]*\[/ { if (insec && !done) {printf "Port=%s%s", port, eol; done=1}
                    s=tolower($0); gsub(/[ \t\[\]]/,"",s); insec=(s=="comportsettings"); seen=seen||insec
                    printf "%s%s", $0, eol; next }
      insec && tolower($0) ~ /^[ \t]*port[ \t]*=/ { if (!done) printf "Port=%s%s", port, eol; done=1; next }
      {printf "%s%s", $0, eol}
      END { if (!seen) printf "[COMPortSettings]%sPort=%s%s", (eol?eol:"\r\n"), port, (eol?eol:"\r\n");
            else if (!done) printf "Port=%s%s", port, (eol?eol:"\r\n") }' "$INI" > "$tmp"
  fi
  mv -f "$tmp" "$INI"
}

PORT="$(current_port)"
SIM_PID=""
if [ -z "$PORT" ] || [ "$PORT" = "$LINK" ]; then
  rm -f "$LINK"
  "$KV_BUILD/veri-sim" --link "$LINK" --log "$WORK/veri-sim.log" > "$WORK/veri-sim.out" 2>&1 &
  SIM_PID=$!
  trap '[ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; wait 2>/dev/null' EXIT
  for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done
  [ -e "$LINK" ] || { echo "veri-sim did not start; see $WORK/veri-sim.out" >&2; exit 1; }
  set_port "$LINK"
  echo "Simulated robot on $LINK (log: $WORK/veri-sim.log)"
else
  echo "Using the port of KVSettings.ini: $PORT"
fi
"$KV_BUILD/kavetra" "$@"
