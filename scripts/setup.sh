#!/usr/bin/env bash
# Installs the Debian 12 packages Orvik needs to build, test and run;
# with --fuzz also clang and its libFuzzer runtime (scripts/fuzz.sh).
# Quiet and without side effects when everything is present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git clang-format dpkg-dev appstream desktop-file-utils libxml2-utils
  # Qt 6
  qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-translations-l10n libqt6svg6
  # text services, export
  libicu-dev libhunspell-dev hunspell-de-de libzip-dev
  # editor fonts
  fonts-dejavu fonts-sil-charis fonts-linuxlibertine fonts-ebgaramond fonts-texgyre fonts-liberation2
  # running the window headless, screenshots, looking at exports
  xvfb xauth xdotool x11-utils imagemagick poppler-utils unzip libreoffice-writer-nogui
  # icons for the window where the desktop theme lacks them
  breeze-icon-theme
  # dropping privileges in tests that need file permissions to bite
  util-linux
  # a session bus of the test's own (one window per library)
  dbus-daemon dbus-bin dbus-session-bus-common
  # two devices that keep one library in step (tests/sync)
  syncthing
  # sanitizer runtimes of g++ (scripts/sanitize.sh)
  libasan8 libubsan1 libtsan2
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "Installiere fehlende Pakete: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
