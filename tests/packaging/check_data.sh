#!/usr/bin/env bash
# The desktop file and the metainfo pass Debian's validators and agree with
# each other and with the project: id, icon, command, MIME type, version.
set -euo pipefail
data=$1 id=$2 version=$3
desktop=$data/$id.desktop metainfo=$data/$id.metainfo.xml icon=$data/$id.svg
fail() { echo "FEHLER: $*" >&2; exit 1; }

# Validators: errors and warnings fail, hints do not.
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
! grep -Eq ': (error|warning):' <<<"$out" || fail "desktop-file-validate: $out"
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli validate $metainfo"

key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Exec)" = "orvik %F" ] && [ "$(key Icon)" = "$id" ] || fail "Exec '$(key Exec)' oder Icon '$(key Icon)'"
# The German comment is the metainfo's summary.
summary=$(sed -n 's:.*<summary>\(.*\)</summary>.*:\1:p' "$metainfo")
[ -n "$summary" ] && [ "$(key Comment)" = "$summary" ] ||
  fail "Comment '$(key Comment)' ist nicht die Zusammenfassung '$summary'"
tr ';' '\n' <<<"$(key MimeType)" | grep -qx 'text/markdown' || fail "MimeType ohne text/markdown"

for tag in "<id>$id</id>" "<launchable type=\"desktop-id\">$id.desktop</launchable>" '<binary>orvik</binary>'; do
  grep -qF "$tag" "$metainfo" || fail "metainfo ohne $tag"
done
# The newest release comes first and is the project's version.
newest=$(grep -o '<release [^>]*version="[^"]*"' "$metainfo" | head -1 | sed 's/.*version="//; s/"$//')
[ "$newest" = "$version" ] || fail "neueste Version in der metainfo ist '$newest', das Projekt ist $version"

# The icon is a well-formed, square vector image of its own.
grep -q 'viewBox="0 0 128 128"' "$icon" || fail "$icon ist nicht quadratisch (viewBox 0 0 128 128)"
! grep -q '<image' "$icon" || fail "$icon bettet ein Rasterbild ein"
xmllint --noout "$icon" "$metainfo" || fail "$icon oder $metainfo ist kein wohlgeformtes XML"
echo "Desktop-Datei, metainfo und Symbol in Ordnung"
