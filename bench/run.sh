#!/usr/bin/env bash
# Times tagwell's three ways of writing a tag against cp of the same file, on
# files of 5, 50 and 500 MB, and prints the medians as a table. Run ./run.sh
# once first so that build/tagwell exists.
set -euo pipefail
cd "$(dirname "$0")/.."
tagwell=$PWD/build/tagwell
[ -x "$tagwell" ] || { echo "build/tagwell is missing: run ./run.sh first" >&2; exit 1; }
runs=${RUNS:-5}

disk=$(mktemp -d "${TMPDIR:-/tmp}/tagwell-bench-XXXXXX")
memory=$(mktemp -d /dev/shm/tagwell-bench-XXXXXX)  # tmpfs cannot insert ranges
trap 'rm -rf "$disk" "$memory"' EXIT

source bench/timing.sh

# Runs the setup command untimed, then times the command, $runs times.
median_of() {
  local setup=$1; shift
  for _ in $(seq "$runs"); do
    eval "$setup"
    sync
    time_ms "$@"
  done | median
}

# MPEG audio of about $1 MB made of the sample's frames, untagged.
make_audio() {
  local target=$1 megabytes=$2 block=$disk/block
  for _ in $(seq 126); do cat sample/sample.mp3; done > "$block"  # ~1 MB
  for _ in $(seq "$megabytes"); do cat "$block"; done > "$target"
  rm -f "$block"
}

printf '%-8s %-28s %10s %8s\n' size path "median ms" "vs cp"
for mb in 5 50 500; do
  make_audio "$disk/audio" "$mb"
  cp_ms=$(median_of "rm -f $disk/copy" cp "$disk/audio" "$disk/copy")
  cp "$disk/audio" "$disk/tagged"
  "$tagwell" "$disk/tagged" -set title first >/dev/null
  inplace=$(median_of ":" "$tagwell" "$disk/tagged" -set title again)
  insert=$(median_of "cp $disk/audio $disk/work" "$tagwell" "$disk/work" -set title first)
  cp "$disk/audio" "$memory/audio"
  copy=$(median_of "cp $memory/audio $memory/work" "$tagwell" "$memory/work" -set title first)
  cp_memory=$(median_of "rm -f $memory/copy" cp "$memory/audio" "$memory/copy")
  rm -f "$memory"/*
  for row in "in-place edit:$inplace" "first tag, insert path:$insert" \
             "first tag, copy path (tmpfs):$copy" "cp of the file:$cp_ms" \
             "cp of the file (tmpfs):$cp_memory"; do
    ms=${row##*:}
    printf '%-8s %-28s %10s %7sx\n' "${mb} MB" "${row%:*}" "$ms" \
      "$(awk -v a="$ms" -v b="$cp_ms" 'BEGIN { printf "%.2f", a / b }')"
  done
  rm -f "$disk"/*
done
echo "Ratios are to cp on the same disk; files under 32 MiB take the copy path even"
echo "where the file system can insert."
