#!/usr/bin/env bash
# CPack builds orvik_<version>_<arch>.deb with the right fields and files. As
# root the package is installed with apt, started and removed again (leaving
# the machine as found); otherwise the extracted binary is started.
set -euo pipefail
build=$1 id=$2 version=$3
fail() { echo "FEHLER: $*" >&2; exit 1; }
tmp=$(mktemp -d)
chmod 755 "$tmp" # apt reads the package as its own user
installed_by_us=""
trap '[ -z "$installed_by_us" ] || apt-get remove -y -qq orvik >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$tmp/pkg/orvik_${version}_${arch}.deb
[ -f "$deb" ] || { ls -l "$tmp/pkg"; fail "kein Paket orvik_${version}_${arch}.deb"; }
chmod 644 "$deb"

field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -I "$deb"
got="$(field Package) $(field Version) $(field Architecture)"
[ "$got" = "orvik $version $arch" ] || fail "Package, Version, Architecture: '$got'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' ist nicht 'Name <Adresse>'"
has() { # has FIELD PACKAGE...: each PACKAGE is one of FIELD's entries
  local f=$1 p; shift
  for p; do
    field "$f" | tr ',' '\n' | sed 's/^ *//; s/ *(.*//' | grep -qx "$p" || fail "$f ohne $p: $(field "$f")"
  done
}
# dpkg-shlibdeps found the shared libraries the binary links.
has Depends libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libzip4 fonts-dejavu-core
has Recommends hunspell-de-de breeze-icon-theme qt6-translations-l10n libqt6svg6 fonts-sil-charis

listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $NF }' <<<"$listing" | LC_ALL=C sort)
expected=$(printf '%s\n' ./usr/bin/orvik ./usr/lib/orvik/orvik-app ./usr/share/applications/$id.desktop \
  ./usr/share/icons/hicolor/scalable/apps/$id.svg ./usr/share/metainfo/$id.metainfo.xml | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "Dateien im Paket:"$'\n'"$files"$'\n'"erwartet:"$'\n'"$expected"
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/orvik$' <<<"$listing" ||
  fail "usr/bin/orvik gehört nicht root oder ist nicht ausführbar"
grep -q '^-rwxr-xr-x root/root .* \./usr/lib/orvik/orvik-app$' <<<"$listing" ||
  fail "usr/lib/orvik/orvik-app gehört nicht root oder ist nicht ausführbar"

check_version() {
  local out
  out=$(HOME=$tmp "$1" --version) || fail "$1 --version endet mit Fehler"
  [[ "$out" == "orvik $version "* ]] || fail "$1 --version sagt '$out', erwartet 'orvik $version …'"
  echo "$1 --version: $out"
}

if [ "$(id -u)" -ne 0 ]; then
  echo "nicht root: Paket wird nur ausgepackt, nicht installiert"
  dpkg-deb -x "$deb" "$tmp/x"
  check_version "$tmp/x/usr/bin/orvik"
  exit 0
fi
if dpkg-query -W -f='${Status}' orvik 2>/dev/null | grep -q 'ok installed'; then
  fail "orvik ist auf diesem Rechner schon installiert; der Test installiert und entfernt es selbst"
fi

export DEBIAN_FRONTEND=noninteractive
before=$(dpkg-query -W -f='${Package} ${Status}\n' | LC_ALL=C sort)
installed_by_us=yes
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$deb" >"$tmp/apt.log" 2>&1 ||
  { cat "$tmp/apt.log"; fail "apt-get install $deb"; }
dpkg-query -W -f='${Status}' orvik | grep -q 'ok installed' || fail "orvik ist nach apt-get install nicht installiert"
check_version /usr/bin/orvik

apt-get remove -y -qq -o DPkg::Lock::Timeout=120 orvik >"$tmp/apt.log" 2>&1 ||
  { cat "$tmp/apt.log"; fail "apt-get remove orvik"; }
installed_by_us=""
after=$(dpkg-query -W -f='${Package} ${Status}\n' | LC_ALL=C sort)
[ "$before" = "$after" ] ||
  fail "Paketstand nach Installieren und Entfernen verändert:"$'\n'"$(diff <(echo "$before") <(echo "$after") || true)"
echo "installiert, gestartet und wieder entfernt"
