#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Installs everything the build, the tests and the demo need (Debian 12).
# Idempotent: does nothing when all packages are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
  libharfbuzz-dev libfreetype-dev libfontconfig-dev libjpeg-dev zlib1g-dev
  libicu-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth openbox fonts-noto-cjk clang-format clang libclang-rt-14-dev
)

# Installing and packaging: Qt's own translations, the desktop-file and
# AppStream checks, dpkg-shlibdeps for the package's dependencies.
packages+=(
  qt6-translations-l10n desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
