#!/usr/bin/env bash
# Times 1,000 starts of each binary given (default build/tagwell) running
# `--version`, and prints the median of 5 such rounds per start, in ms: to
# compare builds, such as one with and one without the hardening flags.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
starts() { for _ in $(seq 1000); do "$1" --version; done; }
printf '%-40s %14s\n' binary "ms per start"
for binary in "${@:-build/tagwell}"; do
  ms=$(for _ in 1 2 3 4 5; do time_ms starts "$binary"; done | median)
  printf '%-40s %14s\n' "$binary" "$(awk -v ms="$ms" 'BEGIN { printf "%.3f", ms / 1000 }')"
done
