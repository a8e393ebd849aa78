#!/bin/bash
# The running window ended by SIGTERM while its sheet cannot be written (its
# group was taken out of the library) ends with code 0 like "Beenden", and the
# typed text is kept in Gerettet. Types into a real window under Xvfb.
set -u
orvik=$1
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "SKIP: Xvfb and xdotool are needed"; exit 77; }
tmp=$(mktemp -d)
xvfb= app=
trap '[ -n "$app" ] && kill -9 $app 2>/dev/null; [ -n "$xvfb" ] && kill $xvfb 2>/dev/null; rm -rf "$tmp"' EXIT
export HOME=$tmp/home
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_STATE_HOME QT_QPA_PLATFORM
lib=$tmp/lib
mkdir -p "$HOME" "$lib/Ideen" && printf '# A\n' >"$lib/Ideen/a.md"

fail() { echo "FAIL: $1"; exit 1; }
# Polls a condition for up to ten seconds.
await() {
    for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done
    fail "$2"
}
ended() { [ ! -e /proc/$app ] || [ "$(cut -d' ' -f3 /proc/$app/stat 2>/dev/null)" = Z ]; }

# An X server and the window on it. On a busy machine a server may name its
# display and still not take connections, or refuse the window's a moment
# after answering a probe; then server and window are started afresh.
start_window() {
    : >"$tmp/display"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset >"$tmp/xvfb.log" 2>&1 5>"$tmp/display" &
    xvfb=$!
    await '[ -s "$tmp/display" ] || ! kill -0 $xvfb 2>/dev/null' "no X server"
    export DISPLAY=:$(head -1 "$tmp/display")
    for _ in $(seq 50); do
        if xdotool getdisplaygeometry >/dev/null 2>&1; then
            "$orvik" --library "$lib" 2>"$tmp/app.log" &
            app=$!
            for _ in $(seq 100); do
                win=$(xdotool search --onlyvisible --name "^Orvik$" 2>/dev/null | head -1)
                [ -n "$win" ] && return 0
                ended && break
                sleep 0.1
            done
            return 1
        fi
        sleep 0.1
    done
    return 1
}
for attempt in 1 2 3; do
    start_window && break
    [ -n "$app" ] && kill -9 $app 2>/dev/null && wait $app 2>/dev/null
    kill $xvfb 2>/dev/null
    if [ $attempt -eq 3 ]; then
        echo "--- X server:"; cat "$tmp/xvfb.log"; echo "--- window:"; cat "$tmp/app.log" 2>/dev/null
        fail "no window"
    fi
    app=
done
# The window can be found by name a moment before it is mapped, and focusing
# it then fails; keys sent before it has the focus go nowhere.
await 'xdotool windowfocus --sync "$win" 2>/dev/null' "the window never took the focus"
xdotool key ctrl+n
await 'ls "$lib/Schnelle Notiz/"*.md >/dev/null 2>&1' "no new sheet"
sheet=$(ls "$lib/Schnelle Notiz/"*.md)
LC_ALL=C.UTF-8 xdotool type --delay 20 'Rette mich'
await 'grep -q "Rette mich" "$sheet"' "the typed text was not saved"

mv "$lib/Schnelle Notiz" "$tmp/weg"
LC_ALL=C.UTF-8 xdotool type --delay 20 ' bitte'
# Every key handled before the signal.
sleep 1
kill -TERM $app
await ended "still running after SIGTERM"
wait $app
code=$?
app=
[ $code -eq 0 ] || fail "exit code $code"
grep -q "Rette mich bitte" "$tmp/weg/"*.md && fail "written outside the library"
grep -lq "Rette mich bitte" "$HOME/.local/share/Orvik/Gerettet/"*.md 2>/dev/null ||
    fail "nothing in ~/.local/share/Orvik/Gerettet"
echo "PASS"
