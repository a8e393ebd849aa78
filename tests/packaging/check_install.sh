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

expected="bin/orvik
share/applications/$id.desktop
share/icons/hicolor/scalable/apps/$id.svg
share/metainfo/$id.metainfo.xml"
actual=$(cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] ||
  fail "installierte Dateien:"$'\n'"$actual"$'\n'"erwartet:"$'\n'"$expected"
[ -z "$(cd "$tmp/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "Dateien außerhalb von /usr"

[ -x "$root/bin/orvik" ] || fail "bin/orvik ist nicht ausführbar"
cmp "$root/share/applications/$id.desktop" "$data/$id.desktop"
cmp "$root/share/icons/hicolor/scalable/apps/$id.svg" "$data/$id.svg"
cmp "$root/share/metainfo/$id.metainfo.xml" "$data/$id.metainfo.xml"
for f in "$root/share/applications/$id.desktop" "$root/share/icons/hicolor/scalable/apps/$id.svg" \
  "$root/share/metainfo/$id.metainfo.xml"; do
  [ "$(stat -c %a "$f")" = 644 ] || fail "$f hat die Rechte $(stat -c %a "$f"), erwartet 644"
done
desktop-file-validate "$root/share/applications/$id.desktop" >/dev/null

out=$(HOME=$tmp "$root/bin/orvik" --version)
[[ "$out" == "orvik $version "* ]] || fail "orvik --version sagt '$out', erwartet 'orvik $version …'"
echo "installiert: $(tr '\n' ' ' <<<"$actual")"
