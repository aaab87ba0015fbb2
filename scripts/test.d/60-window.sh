#!/usr/bin/env bash
# The control window under Xvfb: caption and controls, Start on show, the idle rule, Stop,
# Open Browser, the error box of a taken port, the "Atenção" box of a refused main database,
# and a close that runs no stop sequence. Screenshots go to $TAMRIX_ARTIFACTS.
# Needs the environment of scripts/test: TAMRIX_DIST, TAMRIX_ARTIFACTS and the TAMRIX_PG_*
# lines of scripts/pg.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIST=${TAMRIX_DIST:-$ROOT/dist}
ART=${TAMRIX_ARTIFACTS:-$ROOT/tests/artifacts}
mkdir -p "$ART"

failures=0
ok() { echo "  ok   $*"; }
bad() { echo "  FAIL $*"; failures=$((failures + 1)); }
check() {  # description, command...
  local d=$1
  shift
  if "$@"; then ok "$d"; else bad "$d"; fi
}
die() { echo "60-window: $*" >&2; exit 1; }

[ -x "$DIST/tamrix-rest-server" ] || die "no $DIST/tamrix-rest-server (run scripts/build)"
[ -n "${TAMRIX_PG_PORT:-}" ] || die "TAMRIX_PG_* not set (eval \"\$(bash scripts/pg start DIR)\")"
for t in Xvfb xdotool xprop import convert cc curl; do
  command -v $t >/dev/null || die "$t missing (scripts/deps)"
done

WORK=$(mktemp -d /tmp/tamrix-window.XXXXXX)
XVFB=
SRV=
DBS=()
PSQL=("$TAMRIX_PG_BIN/psql" -X -q -h "$TAMRIX_PG_HOST" -p "$TAMRIX_PG_PORT" -U "$TAMRIX_PG_USER")
sql() { PGPASSWORD=$TAMRIX_PG_PASSWORD "${PSQL[@]}" -d "$1" -tAc "$2"; }
cleanup() {
  [ -n "$SRV" ] && kill -KILL "$SRV" 2>/dev/null
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
  for d in "${DBS[@]}"; do sql postgres "DROP DATABASE IF EXISTS $d WITH (FORCE)" >/dev/null 2>&1; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# A window manager would send WM_DELETE_WINDOW; Xvfb has none, so this does.
cat >"$WORK/fechar.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv) {
  Display* d = argc == 2 ? XOpenDisplay(NULL) : NULL;
  if (!d) return 1;
  XEvent e = {0};
  e.xclient.type = ClientMessage;
  e.xclient.window = (Window)strtoul(argv[1], NULL, 0);
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
  XCloseDisplay(d);
  return 0;
}
C
cc -o "$WORK/fechar" "$WORK/fechar.c" -lX11 || die "cannot build the close helper"

# Open Browser runs xdg-open; this one only writes down what it was asked to open.
mkdir -p "$WORK/bin"
cat >"$WORK/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >>"$WORK/xdg-open.txt"
SH
chmod +x "$WORK/bin/xdg-open"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || die "Xvfb did not start"
export DISPLAY=:$(cat "$WORK/display")

free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo $p; return; }
  done
}

# A private copy of the main database, so the events of this run stay apart.
new_main_db() {
  local d="tmp_window_$$_$RANDOM"
  sql postgres "CREATE DATABASE $d TEMPLATE $TAMRIX_PG_MAIN_TEMPLATE" >/dev/null || die "CREATE DATABASE failed"
  DBS+=("$d")
  echo "$d"
}

# Copies dist/ into $1 with a config.ini for port $2, main database $3, password $4.
prepare() {
  rm -rf "$1"
  cp -r "$DIST" "$1"
  rm -f "$1/log.txt"
  printf '[Servidor]\r\nPorta=%s\r\n[BD]\r\nDriver=PostgreSQL\r\nHost=%s\r\nPorta=%s\r\nInstancia=\r\nDataBase=%s\r\nUsuario=%s\r\nSenha=%s\r\n' \
    "$2" "$TAMRIX_PG_HOST" "$TAMRIX_PG_PORT" "$3" "$TAMRIX_PG_USER_SCRAMBLED" "$4" >"$1/config.ini"
}

start_window() {  # dir
  (cd "$1" && PATH="$WORK/bin:$PATH" exec ./tamrix-rest-server) >"$1/out.txt" 2>&1 &
  SRV=$!
}

# The ids of the windows whose title (_NET_WM_NAME, UTF-8) is exactly $1. xdotool's own
# name search misses accented titles, so every window is asked.
windows_named() {
  local w
  for w in $(xdotool search --name '.' 2>/dev/null); do
    [ "$(xprop -id "$w" _NET_WM_NAME 2>/dev/null)" = "_NET_WM_NAME(UTF8_STRING) = \"$1\"" ] && echo "$w"
  done
}
# Waits until such a window exists and prints its id.
find_window() {
  local w
  for _ in $(seq 100); do
    w=$(windows_named "$1" | head -n1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
no_window() { [ -z "$(windows_named "$1")" ]; }

wait_for() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  for _ in $(seq $n); do "$@" && return 0; sleep 0.1; done
  return 1
}

count() { grep -c -- "$2" "$1/log.txt" 2>/dev/null || true; }
log_has() { [ "$(count "$1" "$2")" -ge "$3" ]; }
answers() { [ "$(curl -s -m 5 "http://localhost:$1/tamrix/rest/TsmComum/InverterString/abc")" = '{"result":["cba"]}' ]; }
closed() { ! curl -s -m 2 -o /dev/null "http://localhost:$1/"; }

click() { xdotool mousemove --window "$1" "$2" "$3" click 1 2>/dev/null; sleep 0.3; }
shot() { import -window "$1" "$2"; }
# Types $2 into the port field of window $1 and presses Start.
start_on() {
  click "$1" 80 77
  xdotool key ctrl+a 2>/dev/null
  xdotool type "$2" 2>/dev/null
  click "$1" 60 20
}
# Darkest grey (0 black .. 1 white) in a rectangle of a screenshot: a label drawn active
# is black, an inactive one grey.
darkest() { convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -format '%[fx:minima]' info:; }
is_active() { awk -v v="$(darkest "$@")" 'BEGIN { exit !(v < 0.25) }'; }
is_inactive() { awk -v v="$(darkest "$@")" 'BEGIN { exit !(v >= 0.25) }'; }
# Label areas, inside the focus frame: Start, Stop, the port text, Open Browser.
START=(41 16 40 9)
STOP=(122 16 40 9)
PORT=(28 72 30 11)
BROWSER=(34 120 87 9)

states() {  # screenshot, "active"|"inactive" (for Start and the port field)
  local s=$1 a=is_active b=is_inactive
  [ "$2" = inactive ] && { a=is_inactive; b=is_active; }
  $a "$s" "${START[@]}" && $a "$s" "${PORT[@]}" && $b "$s" "${STOP[@]}" && $b "$s" "${BROWSER[@]}"
}

echo "== window: start on show, Stop, Start, Open Browser, taken port, close"
MAIN=$(new_main_db)
PORTA=$(free_port)
A=$WORK/a
prepare "$A" "$PORTA" "$MAIN" "$TAMRIX_PG_PASSWORD_SCRAMBLED"
start_window "$A"
W=$(find_window "TAMRIX Rest Server") || die "the window did not appear: $(cat "$A/out.txt")"
check "caption \"TAMRIX Rest Server\"" [ "$(xdotool getwindowname "$W")" = "TAMRIX Rest Server" ]
check "client area 228x147" sh -c "xdotool getwindowgeometry '$W' | grep -q 'Geometry: 228x147'"
check "shown window starts the server by itself" wait_for 20 log_has "$A" "Iniciando servidor." 1
check "listener answers on the configured port" wait_for 10 answers "$PORTA"
check "\"Servidor iniciado.\" recorded" [ "$(sql "$MAIN" "SELECT count(*) FROM EventosServRest WHERE descricao = 'Servidor iniciado.'")" = 1 ]
sleep 0.3
shot "$W" "$WORK/s1.png"
cp "$WORK/s1.png" "$ART/janela-iniciada.png"
check "running: Start and port disabled, Stop and Open Browser enabled" states "$WORK/s1.png" inactive

click "$W" 60 20  # Start, disabled
check "a disabled Start does nothing" [ "$(count "$A" "Iniciando servidor.")" = 1 ]

click "$W" 66 124  # Open Browser
check "Open Browser asks xdg-open for http://localhost:$PORTA" \
  wait_for 5 grep -qx "http://localhost:$PORTA" "$WORK/xdg-open.txt"

click "$W" 142 20  # Stop
check "Stop runs the stop sequence" wait_for 10 log_has "$A" "Parando servidor." 1
check "Stop closes the port" wait_for 10 closed "$PORTA"
sleep 0.3
shot "$W" "$WORK/s2.png"
cp "$WORK/s2.png" "$ART/janela-parada.png"
check "stopped: Stop disabled, Start and port enabled" states "$WORK/s2.png" active
click "$W" 142 20  # Stop again, now disabled
check "a disabled Stop does nothing" [ "$(count "$A" "Parando servidor.")" = 1 ]

click "$W" 60 20  # Start
check "Start starts again" wait_for 20 log_has "$A" "Iniciando servidor." 2
check "listener answers again" wait_for 10 answers "$PORTA"
click "$W" 142 20  # Stop
wait_for 10 log_has "$A" "Parando servidor." 2

# A taken port (the database's own) in the port field: the error box, nothing started.
start_on "$W" "$TAMRIX_PG_PORT"
E=$(find_window "Erro")
check "a taken port shows the error box" [ -n "$E" ]
if [ -n "$E" ]; then
  shot "$E" "$ART/erro-porta-ocupada.png"
  check "IniciarServidor is not called" [ "$(count "$A" "Iniciando servidor.")" = 2 ]
  xdotool key Return 2>/dev/null
  check "the box closes with OK" wait_for 5 no_window "Erro"
fi
sleep 0.3
shot "$W" "$WORK/s3.png"
check "after the failure the window stays inactive" states "$WORK/s3.png" active

# Port text that is not a port: the same error box, nothing started.
for texto in 80x 70000; do
  start_on "$W" "$texto"
  E=$(find_window "Erro")
  check "port text \"$texto\" shows the error box" [ -n "$E" ]
  [ -n "$E" ] && xdotool key Return 2>/dev/null && wait_for 5 no_window "Erro"
  check "port text \"$texto\" starts nothing" [ "$(count "$A" "Iniciando servidor.")" = 2 ]
done

# Back to the free port, start, and close the window while it runs.
start_on "$W" "$PORTA"
check "started once more" wait_for 20 log_has "$A" "Iniciando servidor." 3
"$WORK/fechar" "$W"
if wait_for 30 sh -c "! kill -0 $SRV 2>/dev/null"; then
  wait "$SRV"
  check "closing the window ends the process with 0" [ $? -eq 0 ]
else
  bad "closing the window ends the process"
fi
SRV=
check "closing runs no stop sequence" [ "$(count "$A" "Parando servidor.")" = 2 ]
check "closing leaves no listener" closed "$PORTA"

echo "== window: main database refuses the login"
MAIN2=$(new_main_db)
PORTA2=$(free_port)
B=$WORK/b
prepare "$B" "$PORTA2" "$MAIN2" "V2toMXRlWX9hWXN4"  # not the role's password
start_window "$B"
W2=$(find_window "TAMRIX Rest Server") || die "the window did not appear: $(cat "$B/out.txt")"
X=$(find_window "Atenção")
check "one \"Atenção\" box" [ -n "$X" ] && [ "$(windows_named "Atenção" | wc -l)" = 1 ]
if [ -n "$X" ]; then
  shot "$X" "$ART/atencao-banco.png"
  xdotool key Return 2>/dev/null
  check "the box closes with OK" wait_for 5 no_window "Atenção"
fi
check "log: start, error, two stops" wait_for 10 log_has "$B" "Parando servidor." 2
check "log: one error line" [ "$(count "$B" '^\* ERRO ')" = 1 ]
check "log: one start line" [ "$(count "$B" "Iniciando servidor.")" = 1 ]
check "the listener is inactive again" wait_for 10 closed "$PORTA2"
sleep 0.3
shot "$W2" "$WORK/s4.png"
check "the window stays up with Start enabled" states "$WORK/s4.png" active
check "no events recorded" [ "$(sql "$MAIN2" "SELECT count(*) FROM EventosServRest")" = 0 ]
"$WORK/fechar" "$W2"
wait_for 30 sh -c "! kill -0 $SRV 2>/dev/null" && wait "$SRV"
SRV=

if [ $failures -eq 0 ]; then echo "60-window: all passed"; else echo "60-window: $failures failed"; fi
[ $failures -eq 0 ]
