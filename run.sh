#!/usr/bin/env bash
# Builds tagwell (see build.sh) and runs it with the given arguments in the
# caller's directory; without arguments, tags a temporary copy of the sample
# MP3 and lists what it then holds.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
"$repo/build.sh" tagwell
if [ $# -gt 0 ]; then
  exec "$repo/build/tagwell" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$repo/sample/sample.mp3" "$work/sample.mp3"
cd "$work"
echo "\$ tagwell sample.mp3 -set artist 'Björk' -set title Jóga -set tracknum 3/12"
"$repo/build/tagwell" sample.mp3 -set artist 'Björk' -set title Jóga \
  -set tracknum 3/12 | tr -d '\r'
echo "\$ tagwell --list sample.mp3"
"$repo/build/tagwell" --list sample.mp3
echo "(That was a copy of $repo/sample/sample.mp3; the sample itself is unchanged.)"
