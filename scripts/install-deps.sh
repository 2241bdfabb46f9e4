#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages. Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev python3 clang libclang-rt-14-dev
          locales qt6-base-dev fonts-dejavu-core nlohmann-json3-dev libgdal-dev gdal-bin poppler-utils
          parallel qpdf qgis python3-qgis xvfb xauth
          qttools5-dev-tools g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 libwine-dev
          fonts-wine imagemagick x11-apps)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Regional-format tests read real locales; make the few they use.
for entry in de_DE:UTF-8:de_DE.UTF-8 fr_FR:UTF-8:fr_FR.UTF-8 en_IN:UTF-8:en_IN.UTF-8 de_DE:ISO-8859-1:de_DE.ISO-8859-1 en_US:UTF-8:en_US.UTF-8; do
  IFS=: read -r src charset name <<<"$entry"
  if ! locale -a 2>/dev/null | grep -qi "^${name//-/-\?}$"; then
    localedef -i "$src" -f "$charset" "$name" >/dev/null 2>&1 || echo "note: could not make locale $name" >&2
  fi
done
