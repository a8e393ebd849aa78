#!/bin/bash
# One window per library: a second start hands its files to the running
# window over a session bus of the test's own and ends with 0; without a bus
# it says so and ends with 1. A lock left by a killed window blocks nothing,
# another library gets its own window, and the command line works beside it.
set -u
orvik=$1
command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null ||
    { echo "SKIP: dbus-daemon and dbus-send are needed"; exit 77; }
tmp=$(mktemp -d)
apps=() bus=
trap 'for a in "${apps[@]}"; do kill -9 "$a" 2>/dev/null; done; [ -n "$bus" ] && kill "$bus" 2>/dev/null; rm -rf "$tmp"' EXIT
export HOME=$tmp/home QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_RUNTIME_DIR
lib=$tmp/lib
mkdir -p "$HOME" "$lib/Ideen" && printf '# A\n' >"$lib/Ideen/a.md"
printf '# Draußen\n' >"$tmp/notiz.md"

fail() { echo "FAIL: $1"; exit 1; }
await() {
    for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done
    fail "$2"
}
running() { [ -e /proc/$1 ] && [ "$(cut -d' ' -f3 /proc/$1/stat)" != Z ]; }
holds() { # the window on the bus answers for this library
    dbus-send --session --print-reply --dest=de.orvik.Orvik /de/orvik/Orvik \
        de.orvik.Orvik.Library 2>/dev/null | grep -qF "\"$1\""
}

dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$tmp/bus" || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$tmp/bus")
bus=$(sed -n 2p "$tmp/bus")

"$orvik" --library "$lib" 2>/dev/null &
first=$!
apps+=($first)
await "holds '$lib'" "the window did not appear on the session bus"

timeout 20 "$orvik" --library "$lib" "$tmp/notiz.md" 2>"$tmp/err"
[ $? -eq 0 ] || fail "the second start did not hand over: $(cat "$tmp/err")"
running $first || fail "the first window ended"
[ "$(cat "$tmp/notiz.md")" = "# Draußen" ] || fail "the outside file was changed"
"$orvik" --library "$lib" sheets Ideen >/dev/null || fail "the command line is refused beside the window"

DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/kein-bus timeout 20 "$orvik" --library "$lib" 2>"$tmp/err"
code=$?
[ $code -eq 1 ] && grep -q "Orvik läuft bereits für diese Bibliothek." "$tmp/err" ||
    fail "without a bus: exit $code, $(cat "$tmp/err")"

mkdir -p "$tmp/zweite"
"$orvik" --library "$tmp/zweite" 2>/dev/null &
apps+=($!)
sleep 2
running $! || fail "another library got no window of its own"

kill -9 $first
# Dead, perhaps not yet reaped: a zombie's lock must not block either.
await "! running $first" "the first window did not die"
"$orvik" --library "$lib" 2>"$tmp/err" &
apps+=($!)
for _ in $(seq 100); do holds "$lib" && break; sleep 0.1; done
holds "$lib" || fail "a lock left by a killed window kept the library from opening: $(cat "$tmp/err")"
# A killed window that its parent has not reaped yet (a zombie) holds no lock either.
mkdir -p "$tmp/dritte"
sh -c '"$0" --library "$1" 2>/dev/null & echo $! >"$2"; exec sleep 60' "$orvik" "$tmp/dritte" "$tmp/zombie" &
apps+=($!)
await '[ -s "$tmp/zombie" ] && [ -d "$tmp/dritte/Ideen" ]' "the third window did not start"
zombie=$(cat "$tmp/zombie")
sleep 1
kill -9 "$zombie"
await "[ \"\$(cut -d' ' -f3 /proc/$zombie/stat 2>/dev/null)\" = Z ]" "no zombie was left"
"$orvik" --library "$tmp/dritte" 2>"$tmp/err" &
apps+=($!)
sleep 2
running $! || fail "a zombie's lock kept the library from opening: $(cat "$tmp/err")"
echo "PASS"
