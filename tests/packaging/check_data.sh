#!/usr/bin/env bash
# The desktop file and the metainfo pass Debian's validators and agree with
# each other and with the project: id, icon, command, MIME type, version.
set -euo pipefail
data=$1 id=$2 version=$3
desktop=$data/$id.desktop metainfo=$data/$id.metainfo.xml icon=$data/$id.svg
fail() { echo "FEHLER: $*" >&2; exit 1; }

# Validators: errors and warnings fail, hints do not.
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
if grep -Eq ': (error|warning):' <<<"$out"; then fail "desktop-file-validate: $out"; fi
echo "$out"
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli validate $metainfo"

key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Name)" = Orvik ] || fail "Name ist '$(key Name)'"
[ "$(key Exec)" = orvik ] || fail "Exec ist '$(key Exec)', erwartet 'orvik'"
[ "$(key Icon)" = "$id" ] || fail "Icon ist '$(key Icon)', erwartet '$id'"
[ "$(key Type)" = Application ] || fail "Type ist '$(key Type)'"
[ "$(key Terminal)" = false ] || fail "Terminal ist '$(key Terminal)'"
# The German comment is the metainfo's summary.
summary=$(sed -n 's:.*<summary>\(.*\)</summary>.*:\1:p' "$metainfo")
[ -n "$summary" ] && [ "$(key Comment)" = "$summary" ] ||
  fail "Comment '$(key Comment)' ist nicht die Zusammenfassung '$summary'"
tr ';' '\n' <<<"$(key MimeType)" | grep -qx 'text/markdown' || fail "MimeType ohne text/markdown"
for c in Office TextEditor; do
  tr ';' '\n' <<<"$(key Categories)" | grep -qx "$c" || fail "Categories ohne $c"
done

grep -q "<id>$id</id>" "$metainfo" || fail "metainfo-id ist nicht $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metainfo startet nicht $id.desktop"
grep -q '<binary>orvik</binary>' "$metainfo" || fail "metainfo nennt das Programm orvik nicht"
# The newest release comes first and is the project's version.
newest=$(grep -o '<release [^>]*version="[^"]*"' "$metainfo" | head -1 | sed 's/.*version="//; s/"$//')
[ "$newest" = "$version" ] || fail "neueste Version in der metainfo ist '$newest', das Projekt ist $version"

# The icon is a well-formed, square SVG of its own.
head -c 400 "$icon" | grep -q '<svg' || fail "$icon ist kein SVG"
grep -q 'viewBox="0 0 128 128"' "$icon" || fail "$icon ist nicht quadratisch (viewBox 0 0 128 128)"
if grep -q '<image' "$icon"; then fail "$icon bettet ein Rasterbild ein"; fi
xmllint --noout "$icon" "$metainfo" || fail "$icon oder $metainfo ist kein wohlgeformtes XML"
echo "Desktop-Datei, metainfo und Symbol in Ordnung"
