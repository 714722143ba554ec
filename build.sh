#!/usr/bin/env bash
# Installs what tagwell needs to build (Debian, as root) and builds it into
# build/, saying what it does at each step: everything, or the target given
# as the only argument. Everything it prints goes to
# standard error, so that the output of the tool run after it stays apart.
set -euo pipefail
cd "$(dirname "$0")"
exec 1>&2

packages=(g++ cmake make libid3-3.8.3-dev nlohmann-json3-dev zlib1g-dev libgtest-dev
  dpkg-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "==> Installing ${missing[*]} (apt-get)"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Once configured, the build itself reconfigures when CMakeLists.txt changes.
if [ ! -f build/CMakeCache.txt ]; then
  echo "==> Configuring into build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
echo "==> Building ${1:-everything}"
cmake --build build -j"$(nproc)" ${1:+--target "$1"}
