#!/usr/bin/env bash
# Screenshots of the main window in each appearance mode and its main states,
# taken on a virtual X display with a demo library. Usage:
#   scripts/screenshots.sh [OUTPUT_FOLDER]      (default: build/screenshots)
# ORVIK_BINARY may point at an existing build; otherwise the release preset is built.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$OUT"

BIN=${ORVIK_BINARY:-}
if [[ -z "$BIN" ]]; then
  if [[ ! -x build/release/orvik ]]; then
    cmake --preset release >/dev/null
  fi
  cmake --build --preset release --target orvik
  BIN=$ROOT/build/release/orvik
fi
BIN=$(realpath "$BIN")

WORK=$(mktemp -d /tmp/orvik-shots-XXXXXX)
XVFB_PID=
APP_PID=
cleanup() {
  [[ -n "$APP_PID" ]] && kill "$APP_PID" 2>/dev/null || true
  [[ -n "$XVFB_PID" ]] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# --- demo library -----------------------------------------------------------
DEMO=$WORK/Bibliothek
export HOME=$WORK/home-cli XDG_CONFIG_HOME=$WORK/home-cli/.config
mkdir -p "$HOME"
"$BIN" --library "$DEMO" groups >/dev/null   # creates the standard groups and the welcome sheet
mkdir -p "$DEMO/Reisen"
sheet() { # GROUP FILE DATE TEXT
  printf '%s' "$4" >"$DEMO/$1/$2"
  touch -d "$3" "$DEMO/$1/$2"
}
sheet Ideen gartenhaus.md '2026-03-02 09:12' $'# Ein Gartenhaus aus Lärchenholz\n\nKleine Schreibstube hinter dem Apfelbaum: **Holz**, Licht von Norden, ein Ofen.\n\n- [ ] Maße nehmen\n- [x] Skizze zeichnen\n'
sheet Ideen roman.md '2026-03-04 21:40' $'# Romananfang\n\n> Der Zug hielt nicht, er zögerte nur.\n\nDie erste Szene spielt am Bahnsteig in Husum, *kurz vor Mitternacht*.\n'
sheet Projekte umzug.md '2026-02-27 18:05' $'# Umzug nach Leipzig\n\n## Offene Punkte\n\n1. Kisten bestellen\n2. Ummeldung\n3. `Nachsendeauftrag`\n\nSiehe [Checkliste](https://example.org/umzug).\n'
sheet Tagebuch 2026-03-05-071500.md '2026-03-05 07:15' $'# Donnerstag, 5. März 2026\n\nMorgens Nebel über der Elbe, später Sonne. Ein Apfel zum Frühstück.\n'
sheet "Schnelle Notiz" einkauf.md '2026-03-05 12:30' $'# Einkauf\n\nÄpfel, Brot, Kaffee, Hafermilch.\n'
sheet Reisen lissabon.md '2026-01-15 10:00' $'# Lissabon im Januar\n\nStraßenbahn 28, Miradouro da Graça, Pastéis de Nata.\n'
{
  printf '# Ein langes Blatt\n\n'
  for i in $(seq 1 60); do
    printf '## Abschnitt %d\n\nDies ist Absatz %d eines langen Blattes mit **fettem** Text, *kursivem* Text und einem `Code`-Stück. Über Äpfel, Straßen und Flüsse schreibt es sich ruhig.\n\n' "$i" "$i"
  done
} >"$DEMO/Projekte/langes-blatt.md"
touch -d '2026-03-03 16:00' "$DEMO/Projekte/langes-blatt.md"
sheet Ideen verworfen.md '2026-02-01 08:00' $'# Verworfene Idee\n\nDoch nicht.\n'
"$BIN" --library "$DEMO" trash -- "$DEMO/Ideen/verworfen.md" >/dev/null

# --- virtual display ----------------------------------------------------------
DISPLAY_NUMBER=${ORVIK_DISPLAY:-99}
while [[ -e /tmp/.X$DISPLAY_NUMBER-lock ]]; do DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1)); done
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

start() { # MODE
  export HOME=$WORK/home-$1 XDG_CONFIG_HOME=$WORK/home-$1/.config
  mkdir -p "$XDG_CONFIG_HOME/Orvik"
  printf '[General]\nOrvikAppearance=%s\nOrvikFontSize=17\n' "$1" >"$XDG_CONFIG_HOME/Orvik/Orvik.conf"
  "$BIN" --library "$DEMO" >"$WORK/orvik-$1.log" 2>&1 &
  APP_PID=$!
  WINDOW=
  for _ in $(seq 100); do
    WINDOW=$(xdotool search --pid "$APP_PID" --name '^Orvik$' 2>/dev/null | head -1) && [[ -n "$WINDOW" ]] && break
    sleep 0.1
  done
  [[ -n "$WINDOW" ]] || { echo "Kein Fenster für $1" >&2; cat "$WORK/orvik-$1.log" >&2; exit 1; }
  xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
  sleep 1
}
stop() {
  kill -TERM "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=
}
shot() { # NAME
  sleep 0.6
  import -window "$WINDOW" "$OUT/$1.png"
  echo "$OUT/$1.png"
}
# Clicks at a point of the window (there is no window manager: the window sits at 0,0).
click() { xdotool mousemove --window "$WINDOW" "$1" "$2" click 1; sleep 0.4; }

for mode in system hell dunkel sepiaHell sepiaDunkel; do
  start "$mode"
  shot "$mode-blatt"
  stop
done

# The main states, in the system look.
start system
# Sidebar rows start below the menu bar, the toolbar and the "Bibliothek" header.
row() { echo $((92 + 22 * $1)); }
click 80 "$(row 2)"                        # Projekte: the long sheet among others
shot system-projekte
click 80 "$(row 5)"                        # Papierkorb
shot system-papierkorb
click 80 "$(row 0)"                        # Schnelle Notiz
click 360 95                                # the search field
xdotool type --delay 20 'Apfel'
sleep 1
shot system-suche
xdotool key ctrl+a BackSpace
xdotool type --delay 20 'Zwetschge'
sleep 1
shot system-nichts-gefunden
xdotool key ctrl+a BackSpace Escape
click 80 "$(row 2)"                        # Projekte: the long sheet comes first
click 800 400                              # into the text
xdotool key ctrl+f
xdotool type --delay 20 'Text'
shot system-finden
stop
