#!/usr/bin/env bash
# Runs `tagwell --list` and an edit on sparse files holding a hole of 1, 4 and
# 8 GiB in front of the sample MP3, and prints each run's time and peak
# memory: zeros are skipped, not read, so neither grows with the hole. Run
# ./run.sh once first so that build/tagwell exists; needs GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
tagwell=$PWD/build/tagwell
[ -x "$tagwell" ] || { echo "build/tagwell is missing: run ./run.sh first" >&2; exit 1; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/tagwell-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT

printf '%-8s %-8s %8s %10s  %s\n' hole run seconds "peak KiB" output
for gib in 1 4 8; do
  truncate -s "${gib}G" "$dir/song.mp3"
  cat sample/sample.mp3 >> "$dir/song.mp3"
  for run in --list edit; do
    args=(--list "$dir/song.mp3")
    [ "$run" = edit ] && args=("$dir/song.mp3" -set title T)
    /usr/bin/time -f '%e %M' -o "$dir/time" "$tagwell" "${args[@]}" \
      >"$dir/out" 2>&1 || true
    read -r seconds kib < <(tail -n 1 "$dir/time")
    printf '%-8s %-8s %8s %10s  %s\n' "$gib GiB" "$run" "$seconds" "$kib" \
      "$(head -c 60 "$dir/out" | tr '\r\n' '  ')"
  done
  rm -f "$dir/song.mp3"
done
