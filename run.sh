#!/usr/bin/env bash
# Builds tagwell and runs it with the given arguments; without arguments, tags a
# temporary copy of the sample MP3 to show it working.
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
if [ $# -gt 0 ]; then
  exec build/tagwell "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp sample/sample.mp3 "$work/sample.mp3"
echo "\$ tagwell sample.mp3 -set artist 'Björk' -set title Jóga -set tracknum 3"
(cd "$work" && "$OLDPWD/build/tagwell" sample.mp3 -set artist 'Björk' \
  -set title Jóga -set tracknum 3)
echo "The tag now starts the file:"
head -c 64 "$work/sample.mp3" | od -A d -c | head -n 4
