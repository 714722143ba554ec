#!/usr/bin/env bash
# Sets one album on 1,000 files with one `tagwell --each`, with a shell loop
# of single runs and with one `mid3v2` call (Debian's python3-mutagen,
# installed if missing), alone and followed by `sync` (tagwell makes every
# file durable; mid3v2 leaves that to the system), on files whose tag has
# room and on untagged files;
# then lists them with `tagwell --list` and with a C program that only opens
# each file and reads its ID3v2 tag and last 128 bytes. Prints the medians of
# 5 runs; then single edits in a crowded folder and an empty one. Run
# ./run.sh once first so that build/tagwell exists.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
need_tagwell_and_mid3v2
make_scratch_dir

loop() { for f in "$dir/work"/*.mp3; do "$tagwell" "$f" -set album Live >/dev/null; done; }

cat >"$dir/read.c" <<'C'
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
int main(int argc, char** argv) {
  static char buf[1 << 16];
  for (int i = 1; i < argc; ++i) {
    int fd = open(argv[i], O_RDONLY);
    struct stat st;
    fstat(fd, &st);
    ssize_t n = pread(fd, buf, sizeof buf, 0);
    if (n >= 10 && buf[0] == 'I') {
      size_t size = 10 + ((buf[6] << 21) | (buf[7] << 14) | (buf[8] << 7) | buf[9]);
      if (size > (size_t)n) { char* tag = malloc(size); pread(fd, tag, size, 0); free(tag); }
    }
    pread(fd, buf, 128, st.st_size - 128);
    close(fd);
  }
  return 0;
}
C
cc -O2 -o "$dir/read" "$dir/read.c"

printf '%-34s %12s %12s\n' "1,000 files, median of 5 (ms)" "tag has room" "untagged"
synced_mid3v2() { mid3v2 --album Live "$dir/work"/*.mp3 && sync; }
for tool in each loop mid3v2 synced_mid3v2; do
  row=()
  for kind in room bare; do
    make_files work "$kind"
    case $tool in
      each) cmd=("$tagwell" --each -set album Live "$dir/work"/*.mp3) ;;
      loop) cmd=(loop) ;;
      mid3v2) cmd=(mid3v2 --album Live "$dir/work"/*.mp3) ;;
      synced_mid3v2) cmd=(synced_mid3v2) ;;
    esac
    row+=("$(for _ in 1 2 3 4 5; do make_files work "$kind"; sync; time_ms "${cmd[@]}"; done | median)")
  done
  printf '%-34s %12s %12s\n' "$tool" "${row[@]}"
done
make_files work room
list=$(for _ in 1 2 3 4 5; do time_ms "$tagwell" --list "$dir/work"/*.mp3; done | median)
read=$(for _ in 1 2 3 4 5; do time_ms "$dir/read" "$dir/work"/*.mp3; done | median)
printf '%-34s %12s\n' "tagwell --list" "$list" "open and read only (C)" "$read"

# One edit in place in a folder of 50,000 files against one in a folder of
# one file: an edit that makes no new file reads no folder.
mkdir "$dir/crowd" "$dir/alone"
(cd "$dir/crowd" && seq 50000 | xargs touch)
for folder in crowd alone; do
  cp sample/sample.mp3 "$dir/$folder/song.mp3"
  "$tagwell" "$dir/$folder/song.mp3" -set title Title >/dev/null
done
edit() { for i in $(seq 100); do "$tagwell" "$1" -set title "T$i" >/dev/null; done; }
crowd=$(for _ in 1 2 3 4 5; do time_ms edit "$dir/crowd/song.mp3"; done | median)
alone=$(for _ in 1 2 3 4 5; do time_ms edit "$dir/alone/song.mp3"; done | median)
printf '%-34s %12s\n' "100 edits, folder of 50,000" "$crowd" "100 edits, folder of one" "$alone"
