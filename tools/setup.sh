#!/bin/sh
# Installs what building and testing need on Debian 12, when it is missing. Safe to run again.
set -eu
need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth cmake ninja-build \
           googletest python3 imagemagick locales nsis nginx-light fonts-wqy-microhei fonts-wine \
           osslsigncode openssl python3-cryptography clang squid; do
  have_pkg "$pkg" || need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "Installing:$need"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=""; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends $need >/dev/null
fi
