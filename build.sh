#!/usr/bin/env bash
# Installs what tagwell needs to build (Debian, as root) and builds it into
# build/. Everything it prints goes to standard error.
set -euo pipefail
cd "$(dirname "$0")"
exec 3>&1 1>&2

packages=(g++ cmake make libid3-3.8.3-dev libgtest-dev mandoc)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
