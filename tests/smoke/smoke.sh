#!/bin/bash
# Real-window smoke test: the program's own window on a virtual display,
# driven with mouse clicks and keys against the simulated robot. Connects and
# answers the connection check's boxes, jogs and stops, opens the recipe
# (File/Open), runs its task and watches it in the "Run record" window
# (Settings/Run record), exports the run as PNG and PDF from there, saves
# the recipe (File/Save) and ends with
# SIGTERM; then checks what the controllers received and the files the
# program wrote. Screenshots and logs are kept in BUILD/smoke/.
#
# Usage: tests/smoke/smoke.sh [BUILD]   (BUILD defaults to ./build)
# Needs xvfb-run, xdotool and ImageMagick's import (tools/setup.sh installs them).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$(cd "${1:-$HERE/../../build}" && pwd)"

if [ -z "${KV_SMOKE_DISPLAY:-}" ]; then
  for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "smoke: $tool is missing (tools/setup.sh installs it)"; exit 1; }
  done
  export KV_SMOKE_DISPLAY=1
  # A real window on the X server, whatever the test run set for the others.
  export QT_QPA_PLATFORM=xcb
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$BUILD"
fi

OUT="$BUILD/smoke"
rm -rf "$OUT"
mkdir -p "$OUT"
WORK="$(mktemp -d /tmp/kv-smoke-XXXXXX)"
SIM_PID=""
KV_PID=""
START=$SECONDS

finish() {
  local rc=$?
  [ -n "$KV_PID" ] && kill -KILL "$KV_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  cp "$WORK"/*.ini "$WORK"/*.dip "$WORK"/*.log "$WORK"/*.out "$WORK"/runs/*.csv "$OUT/" 2>/dev/null || true
  rm -rf "$WORK"
  if [ $rc -eq 0 ]; then
    echo "smoke: passed in $((SECONDS - START)) s; screenshots in $OUT"
  else
    echo "smoke: FAILED after $((SECONDS - START)) s; screenshots and logs in $OUT"
  fi
  exit $rc
}
trap finish EXIT

fail() {
  echo "smoke: $*" >&2
  shot "failure" || true
  exit 1
}

SHOTS=0
shot() {
  SHOTS=$((SHOTS + 1))
  import -window root -crop 1024x840+0+0 +repage "$OUT/$(printf %02d $SHOTS)-$1.png"
}

# Polls a condition (a shell command) for up to $2 seconds.
wait_for() {
  local what="$1" limit="${2:-15}" t=0
  until eval "$what"; do
    sleep 0.2
    t=$((t + 1))
    [ $t -ge $((limit * 5)) ] && fail "timed out waiting for: $what"
  done
  return 0
}

SIM_LOG="$WORK/sim.log"
# Times the simulator received exactly this frame.
received() { awk -v f="$1" '{ sub(/^[0-9]+ /, "") } $0 == f { n++ } END { print n + 0 }' "$SIM_LOG"; }
has_frame() { [ "$(received "$1")" -ge "${2:-1}" ]; }
# The simulator's log stands still for a second: the program is idle.
quiet() {
  local before
  before=$(wc -l <"$SIM_LOG")
  sleep 1
  [ "$(wc -l <"$SIM_LOG")" -eq "$before" ]
}

# Clicks at a place given in the window's client coordinates.
click() { xdotool mousemove "$1" $(($2 + DY)) click 1; }

# Message boxes carry the program's title; the main window is "Kavetra".
BOX_TITLE="Tunk Robot Control Program"
box_shown() { xdotool search --onlyvisible --name "^$BOX_TITLE\$" >/dev/null 2>&1; }
# Waits for a box to show and take the keyboard, keeps a picture of it and
# answers it with keys.
answer_box() {
  local name="$1" keys="$2"
  wait_for box_shown 20
  BOX=$(xdotool search --onlyvisible --name "^$BOX_TITLE\$" | head -1)
  wait_for '[ "$(xdotool getwindowfocus)" = "$BOX" ]' 10
  sleep 0.3  # painted
  shot "box-$name"
  xdotool key --clearmodifiers "$keys"
  # This box gone; the next question may follow at once.
  wait_for '! xdotool search --onlyvisible --name "^$BOX_TITLE\$" | grep -qx "$BOX"' 10
}

# Opens the File menu and picks an item by its underlined letter.
# Sky blue (166,202,240), a shade lighter or darker as the window's state has it.
sky_blue() {
  local c
  c=$(convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:)
  set -- $c
  [ $(($1 - 166)) -ge -8 ] && [ $(($1 - 166)) -le 8 ] && [ $(($2 - 202)) -ge -8 ] && [ $(($2 - 202)) -le 8 ] &&
    [ $(($3 - 240)) -ge -8 ] && [ $(($3 - 240)) -le 8 ]
}
panel_shown() {  # x y: the Position panel's sky blue is seen there
  import -window root -crop 200x200+0+0 +repage "png24:$WORK/px.png" && sky_blue "$WORK/px.png" "$1" "$2"
}
file_menu() {
  xdotool mousemove 18 $((DY / 2)) click 1
  # The menu covers the Position panel's sky blue once it is open.
  wait_for '! panel_shown 40 $((DY + 60))' 10
  sleep 0.3
  [ -n "${2:-}" ] && shot "$2"
  xdotool key "$1"
  wait_for 'panel_shown 40 $((DY + 60))' 10
}

# Opens Settings/Run record, keeps a picture of the window as $1.png (beside
# the numbered shots) once its charts are up; with $2, also exports the run
# through the window's Export dialog (Ctrl+E) as $2.png and $2.pdf; then
# closes it with Esc.
record_shown() { xdotool search --onlyvisible --name "^Run record\$" >/dev/null 2>&1; }
white() {
  [ "$(convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:)" = "255 255 255" ]
}
export_shown() { xdotool search --onlyvisible --name "^Export the run record\$" >/dev/null 2>&1; }
export_as() {
  local w="$1" file="$2"
  xdotool windowfocus --sync "$w" key --clearmodifiers ctrl+e
  wait_for export_shown 10
  local d
  d=$(xdotool search --onlyvisible --name "^Export the run record\$" | head -1)
  xdotool windowfocus --sync "$d" key --clearmodifiers ctrl+a
  xdotool type --delay 5 "$file"
  xdotool key --clearmodifiers Return
  wait_for '! export_shown' 10
  wait_for '[ -s "$file" ]' 10
}
run_record() {
  xdotool mousemove 60 $((DY / 2)) click 1
  sleep 0.5
  xdotool key r
  wait_for record_shown 10
  local w png="$OUT/$1.png" width
  w=$(xdotool search --onlyvisible --name "^Run record\$" | head -1)
  # The chart's white ground right of its legend: the window has been painted.
  wait_for 'import -window "$w" "png24:$png" && width=$(identify -format %w "$png") && white "$png" $((width - 40)) 120' 10
  sleep 1.5  # a live picture more
  import -window "$w" "$png"
  if [ -n "${2:-}" ]; then
    export_as "$w" "$OUT/$2.png"
    export_as "$w" "$OUT/$2.pdf"
    # The picture has its title block and the run's curves.
    [ "$(identify -format %w "$OUT/$2.png")" = 1800 ] || fail "$2.png is not 1800 px wide"
    [ "$(head -c 5 "$OUT/$2.pdf")" = "%PDF-" ] || fail "$2.pdf is no PDF"
  fi
  xdotool windowfocus --sync "$w" key --clearmodifiers Escape
  wait_for '! record_shown' 10
}

# --- the simulated robot and the program's files --------------------------
"$BUILD/veri-sim" --link "$WORK/veri.pty" --log "$SIM_LOG" --control "$WORK/control" --speedup 5 \
  >"$WORK/veri-sim.out" 2>&1 &
SIM_PID=$!
wait_for '[ -e "$WORK/veri.pty" ]' 5

cd "$WORK"
printf '%s\r\n' \
  '[General]' 'NMotors=3' \
  '[Motor1]' 'HW_Address=1' 'Axis=X' 'Min_Position=0' 'Max_Position=54' 'Min_Speed=0.01' 'Max_Speed=2' \
  '[Motor2]' 'HW_Address=2' 'Axis=Y' 'Min_Position=0' 'Max_Position=20.5' 'Min_Speed=0.01' 'Max_Speed=2' \
  '[Motor3]' 'HW_Address=3' 'Axis=Z' 'Min_Position=0' 'Max_Position=25' 'Min_Speed=0.01' 'Max_Speed=2' \
  '[Channels]' 'DigOut_Channels=4' \
  '[DigOut2]' 'Address=3' 'Pin=4' >KVHardware.ini
printf '%s\r\n' \
  '[Settings]' 'Home_X=1.00' 'Home_Y=1.00' 'Home_Z=1.00' 'Standard_Z=1.00' 'MaxStandard_V=2.00' \
  '[Channels]' 'DigOut2=Pump' \
  '[COMPortSettings]' "Port=$WORK/veri.pty" 'Baud=19200' 'DataBits=8' 'StopBits=0' 'Parity=0' 'Control=0' \
  >KVSettings.ini
printf '%s\r\n' \
  '# Position: No; Name; Xpos [cm]; Ypos [cm]' \
  'pos; 1; Rinse; 2.00; 1.50' \
  '' \
  '# Process: No; Name; PosNr; ... ' \
  '# Z Top; V Down; T low; Z Bot; V up; T up; ...  ' \
  '# Chan Mode; Chan Num ' \
  'prc; 1; Dip; 1; 1.50; 1.0000; 0.20; 2.50; 2.0000; 0.20; 3; 2; 2' \
  '' \
  '# Task: No; Name; CommandLine ' >LastDefinitions.dip
printf '%s' 'tsk; 1; Smoke; Dip' >>LastDefinitions.dip
cp LastDefinitions.dip "$OUT/LastDefinitions.prepared.dip"

# --- start ------------------------------------------------------------------
"$BUILD/kavetra" >"$WORK/kavetra.out" 2>&1 &
KV_PID=$!
wait_for 'xdotool search --onlyvisible --name "^Kavetra\$" >/dev/null 2>&1' 20
# The menu bar pushes the panels down; the Position panel's sky blue marks
# where the client area starts.
DY=""
measure() {
  local y
  for y in $(seq 0 60); do
    if sky_blue "$WORK/top.png" 100 "$y"; then
      DY=$y
      return 0
    fi
  done
  return 1
}
wait_for 'import -window root -crop 200x70+0+0 +repage "png24:$WORK/top.png" && measure' 15
echo "smoke: menu bar height $DY px"
shot "started"

# --- Connect: switch the motors on (Yes), reference the axes (Yes) ----------
click 792 656
answer_box "motors-on" "alt+y"
wait_for 'has_frame "#1 P134=7" && has_frame "#2 P134=7" && has_frame "#3 P134=7"'
answer_box "reference" "alt+y"
wait_for 'has_frame "#3 H" && has_frame "#2 H" && has_frame "#1 H"' 10
wait_for quiet 20
shot "connected"

# --- jog X towards its end, then the jog pad's STOP ---------------------------
click 954 375  # "+ X"
wait_for 'has_frame "#1 V=1200.0000 WA=540.0000 E"' 10
sleep 1
shot "jogging"
click 860 375  # STOP
wait_for 'has_frame "#1 S"' 10
wait_for quiet 10
shot "jog-stopped"

# --- File/Open: the recipe in LastDefinitions.dip -----------------------------
file_menu o "file-menu"
sleep 0.5
shot "recipe-open"

# --- Start: the task "Smoke", two dips of process "Dip" -----------------------
click 500 612
# Start asks for the sample label and the operator: a label, then OK.
wait_for 'xdotool search --onlyvisible --name "^Start Smoke\$" >/dev/null 2>&1' 10
ASK=$(xdotool search --onlyvisible --name "^Start Smoke\$" | head -1)
xdotool windowfocus --sync "$ASK" type --delay 5 "S-1"
xdotool key --clearmodifiers Return
wait_for 'has_frame "#3 V=600.0000 WA=25.0000 E"' 20
shot "task-running"
# The window opens and draws while the run goes on.
run_record "run-record"
wait_for 'has_frame "#3 V=600.0000 WA=25.0000 E" 2' 20
# Home after the dips: Z, Y, then X to 1 cm.
wait_for '[ "$(sed -n "/WA=25.0000 E/,\$p" "$SIM_LOG" | grep -c " #1 V=1200.0000 WA=10.0000 E\$")" -ge 1 ]' 30
wait_for quiet 20
shot "task-done"
run_record "run-record-done" "run-record-export"

# --- File/Save: the program writes the recipe back ----------------------------
file_menu s
sleep 1

# --- SIGTERM ends the program, which writes its INI files ---------------------
kill -TERM "$KV_PID"
for _ in $(seq 50); do kill -0 "$KV_PID" 2>/dev/null || break; sleep 0.2; done
kill -0 "$KV_PID" 2>/dev/null && fail "the program did not end on SIGTERM"
KV_STATUS=0
wait "$KV_PID" || KV_STATUS=$?
KV_PID=""
[ $KV_STATUS -eq 0 ] || fail "the program ended with status $KV_STATUS"

# --- what the controllers received ---------------------------------------------
expect_frame() { has_frame "$1" "${2:-1}" || fail "the simulator did not receive \"$1\" (${2:-1} times)"; }
for a in 1 2 3; do
  expect_frame "#$a VER"
  expect_frame "#$a P134=7"
  expect_frame "#$a H"
done
expect_frame "#1 V=1200.0000 WA=540.0000 E"
expect_frame "#1 S"
# The task: over the position (X 2 cm, Y 1.5 cm), two dips, the pump output on.
expect_frame "#1 V=1200.0000 WA=20.0000 E"
expect_frame "#2 V=1200.0000 WA=15.0000 E"
expect_frame "#3 V=600.0000 WA=25.0000 E" 2
expect_frame "#3 V=1200.0000 WA=15.0000 E" 3
expect_frame "#3 P1204=1"
expect_frame "#3 P1204=0"
grep -q '^[0-9]* ?? ' "$SIM_LOG" && fail "the simulator received bytes that are no frame"

# --- the files ---------------------------------------------------------------------
crlf() { tr -d '\r' <"$1"; }
ini_has() {  # file section key value
  crlf "$1" | awk -v s="[$2]" -v k="$3" -v v="$4" '
    /^\[/ {in_s = ($0 == s); next}
    in_s && index($0, k "=") == 1 && substr($0, length(k) + 2) == v {found = 1}
    END {exit !found}' || fail "$1: [$2] $3=$4 expected"
}
ini_has KVSettings.ini Settings Home_X 1
ini_has KVSettings.ini Settings MaxStandard_V 2
ini_has KVSettings.ini Channels DigOut2 Pump
ini_has KVSettings.ini COMPortSettings Port "$WORK/veri.pty"
# Written once at exit, with what the connection check found.
ini_has KVHardware.ini General FileStatus 1
for m in 1 2 3; do ini_has KVHardware.ini "Motor$m" SW_Version "VERISIM_1.0 "; done
ini_has KVHardware.ini Motor3 HW_Address 3
ini_has KVHardware.ini DigOut2 Pin 4

expected_dip="$WORK/expected.dip"
# Saved as opened, the task line written with its trailing blank and line end.
{ cat "$OUT/LastDefinitions.prepared.dip"; printf ' \r\n'; } >"$expected_dip"
cmp -s "$expected_dip" LastDefinitions.dip || {
  diff <(cat -A "$expected_dip") <(cat -A LastDefinitions.dip) >&2 || true
  fail "LastDefinitions.dip is not the recipe as saved"
}

[ -s "$WORK/kavetra.out" ] && grep -i -E 'error|fatal|abort' "$WORK/kavetra.out" >&2 && fail "the program printed errors"
exit 0
