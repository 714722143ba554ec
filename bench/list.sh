#!/usr/bin/env bash
# Lists 1,000 tagged files with one `tagwell --list` and with one
# `mid3v2 --list` (Debian's python3-mutagen, installed if missing), and prints
# the median of 5 runs of each. Run ./run.sh once first so that build/tagwell
# exists.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
need_tagwell_and_mid3v2

make_scratch_dir
for i in $(seq 1000); do
  cp sample/sample.mp3 "$dir/$i.mp3"
  "$tagwell" "$dir/$i.mp3" -set title "Title $i" -set artist "Björk" \
    -set album Album -set tracknum "$((i % 255 + 1))/255" >/dev/null
done

median_of() { for _ in 1 2 3 4 5; do time_ms "$@"; done | median; }

ours=$(median_of "$tagwell" --list "$dir"/*.mp3)
theirs=$(median_of mid3v2 --list "$dir"/*.mp3)
printf '%-32s %10s\n' "1,000 files" "median ms"
printf '%-32s %10s\n' "tagwell --list" "$ours" "mid3v2 --list" "$theirs"
awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "tagwell is %.1f times as fast\n", a / b }'
