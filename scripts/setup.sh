#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; does nothing when all is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ googletest libgtest-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wixl osslsigncode openssl zip unzip
  clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev libfuzzer-16-dev clang-tidy-16 clang-format-16
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  # With recommends: Wine needs some of them (GnuTLS for its crypto, behind the trust checks).
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
