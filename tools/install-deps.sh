#!/bin/bash
# Installs the Debian packages the build and the tests need, when any is
# missing. Runs apt-get update only in that case.
set -euo pipefail
packages=(
    make cmake g++ clang locales libgtest-dev googletest
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth
    msitools wixl gcab python3 python3-pefile
    libgsf-1-dev pkg-config
    nsis strace
    osslsigncode openssl zip
)
# Every make target runs this first, so it asks dpkg once for all of them
# rather than once per package. dpkg-query names each package it knows with
# its status (exit 1 and a complaint on stderr for those it does not know).
installed=" $(dpkg-query -W -f='${Status}\t${Package}\n' "${packages[@]}" 2>/dev/null |
    sed -n 's/^install ok installed\t//p' | tr '\n' ' ') " || true
missing=()
for package in "${packages[@]}"; do
    [[ $installed == *" $package "* ]] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
