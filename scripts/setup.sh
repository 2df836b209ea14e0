#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the sample need,
# when any is missing. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libffi-dev libmujs-dev libcairo2-dev libfontconfig-dev libcups2-dev
  fonts-arphic-uming fonts-wqy-zenhei poppler-utils ghostscript zbar-tools
  cups cups-ipp-utils cups-client cups-filters lprint dbus libdbus-1-dev
  clang libclang-rt-14-dev libgif-dev libzxing-dev
  libcurl4-openssl-dev libpsl-dev publicsuffix libssl-dev openssl nginx tinyproxy python3
  scdoc dpkg-dev file lintian mmdebstrap debian-archive-keyring gpg
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql-15
  libpoppler-cpp-dev libboost1.74-dev nlohmann-json3-dev chromium zenity xvfb node-typescript
  libnotify-bin python3-gi firefox-esr libgtk-3-dev xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
