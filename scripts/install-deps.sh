#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: packages already present are left alone. dpkg-dev unpacks the
# libdeflate source package that the build fetches (scripts/fetch-libdeflate.sh).
set -euo pipefail
pkgs=(g++ cmake ninja-build googletest zlib1g-dev
      g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-x86-64-dev mingw-w64-i686-dev
      libz-mingw-w64-dev wine wine64 xvfb xauth x11-utils fonts-liberation fonts-wine imagemagick
      zip unzip p7zip-full python3 time dpkg-dev
      clang libclang-rt-14-dev)  # the fuzz harnesses; the runtime is only recommended by clang
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
