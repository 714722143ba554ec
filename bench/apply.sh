#!/usr/bin/env bash
# Gives 1,000 files each its own title with one `tagwell --apply`, against one
# `tagwell --each` setting one album on them; lists them with `--list --json`,
# against `--list`; then applies a manifest of 100,000 entries whose files are
# missing, under GNU time, for its peak memory and the failures it names.
# Prints the medians of 5 runs, side by side with their ratio. Run ./run.sh
# once first so that build/tagwell exists.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
need_tagwell
make_scratch_dir

# Times the command on fresh files, 5 times; the median.
median_on_fresh() {
  for _ in 1 2 3 4 5; do make_files work room; sync; time_ms "$@"; done | median
}
median_of() { for _ in 1 2 3 4 5; do time_ms "$@"; done | median; }
row() {
  printf '%-44s %10s %10s %7s\n' "$1" "$2" "$3" \
    "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')"
}

seq 1000 | awk -v d="$dir/work" \
  'BEGIN { print "[" } { printf "%s{\"file\":\"%s/%d.mp3\",\"title\":\"Title %d\"}\n", (NR > 1 ? "," : ""), d, $1, $1 } END { print "]" }' \
  >"$dir/titles.json"
apply=$(median_on_fresh "$tagwell" --apply "$dir/titles.json")
each=$(median_on_fresh "$tagwell" --each -set album Live "$dir/work"/*.mp3)
make_files work room
json=$(median_of "$tagwell" --list --json "$dir/work"/*.mp3)
text=$(median_of "$tagwell" --list "$dir/work"/*.mp3)

printf '%-44s %10s %10s %7s\n' "1,000 files, median of 5 (ms)" this against ratio
row "--apply, own titles / --each, one album" "$apply" "$each"
row "--list --json / --list" "$json" "$text"

seq 100000 | awk -v d="$dir/missing" \
  'BEGIN { print "[" } { printf "%s{\"file\":\"%s/%d.mp3\",\"title\":\"Title %d\"}\n", (NR > 1 ? "," : ""), d, $1, $1 } END { print "]" }' \
  >"$dir/missing.json"
status=0
/usr/bin/time -f '%e %M' -o "$dir/time" "$tagwell" --apply "$dir/missing.json" \
  >/dev/null 2>"$dir/err" || status=$?
read -r seconds kib < <(tail -n 1 "$dir/time")
named=$(grep -c "^tagwell: $dir/missing/[0-9]*\.mp3: File error\. Cannot open the file\." "$dir/err" || true)
printf '100,000 missing files: --apply %s s, peak %s KiB (%.1f MiB), %s failures named, exit %s\n' \
  "$seconds" "$kib" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$named" "$status"
