#!/usr/bin/env bash
# `cmake --install` puts the binary, desktop file, icon and metainfo in the
# standard places under the prefix, unchanged, and nothing else.
set -euo pipefail
build=$1 data=$2 id=$3 version=$4
fail() { echo "FEHLER: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

DESTDIR=$tmp/root cmake --install "$build" --prefix /usr >"$tmp/install.log" ||
  { cat "$tmp/install.log"; fail "cmake --install"; }
root=$tmp/root/usr
shared="share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg share/metainfo/$id.metainfo.xml"
expected=$(printf '%s\n' bin/orvik lib/orvik/orvik-app $shared | LC_ALL=C sort)
actual=$(cd "$tmp/root" && find . -type f -printf '%P\n' | sed 's:^usr/::' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installierte Dateien:"$'\n'"$actual"$'\n'"erwartet:"$'\n'"$expected"

for f in $shared; do
  cmp "$root/$f" "$data/$(basename "$f")"
  [ "$(stat -c %a "$root/$f")" = 644 ] || fail "$f hat die Rechte $(stat -c %a "$root/$f"), erwartet 644"
done
out=$(HOME=$tmp "$root/bin/orvik" --version)
[[ "$out" == "orvik $version "* ]] || fail "orvik --version sagt '$out', erwartet 'orvik $version …'"
echo "installiert: $(tr '\n' ' ' <<<"$actual")"
