#!/usr/bin/env bash
# The work a hostile tag can cause: 20 compressed comments that each inflate
# to 16 MiB, against the same file without them (median of 5 runs of
# `--list` and of setting the comment of a fresh copy), and the peak memory of a tag of 200,000 tiny
# frames and of one holding a 5 MiB picture against the README's bound of
# 4 MiB plus six times the tag's size.
# Run ./run.sh once first so that build/tagwell exists; needs GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
tagwell=$PWD/build/tagwell
[ -x "$tagwell" ] || { echo "build/tagwell is missing: run ./run.sh first" >&2; exit 1; }
make_scratch_dir

python3 - "$dir" sample/sample.mp3 <<'PY'
import sys, zlib
folder, audio = sys.argv[1], open(sys.argv[2], "rb").read()
def tag(frames):
    body = b"".join(frames)
    size = bytes(len(body) >> s & 0x7F for s in (21, 14, 7, 0))
    return b"ID3\x03\0\0" + size + body
def frame(fid, data, flags=0):
    return fid + len(data).to_bytes(4, "big") + flags.to_bytes(2, "big") + data
def compressed(data):
    return frame(b"COMM", len(data).to_bytes(4, "big") + zlib.compress(data, 9), 0x0080)
title = frame(b"TIT2", b"\0Plain")
bomb = compressed(b"\0XXX\0" + b"c" * ((16 << 20) - 5))
open(f"{folder}/plain.mp3", "wb").write(tag([title]) + audio)
open(f"{folder}/bombs.mp3", "wb").write(tag([title] + [bomb] * 20) + audio)
open(f"{folder}/tiny.mp3", "wb").write(tag([frame(b"TXXX", b"\0d\0v" + bytes([48 + i % 10]) * 3)
                                            for i in range(200000)]) + audio)
open(f"{folder}/picture.mp3", "wb").write(tag([title, frame(b"APIC", b"\0image/png\0\3\0" + bytes(5 << 20))])
                                          + audio)
PY

median_of() { for _ in 1 2 3 4 5; do time_ms "$@"; done | median; }
# Sets the comment of a fresh copy, which replaces every comment described "".
edit_copy() { cp "$1" "$dir/copy.mp3" && "$tagwell" "$dir/copy.mp3" -set comment c; }
printf '%-34s %10s %10s\n' file "--list ms" "edit ms"
for name in plain bombs; do
  list=$(median_of "$tagwell" --list "$dir/$name.mp3")
  edit=$(median_of edit_copy "$dir/$name.mp3")
  printf '%-34s %10s %10s\n' "$name.mp3 ($(stat -c %s "$dir/$name.mp3") bytes)" "$list" "$edit"
done

printf '\n%-34s %10s %10s\n' "tag" "peak KiB" "bound KiB"
for name in tiny picture; do
  tag_kib=$((($(stat -c %s "$dir/$name.mp3") - $(stat -c %s sample/sample.mp3)) / 1024))
  [ "$name" = tiny ] && what="200,000 frames" || what="a 5 MiB picture"
  for run in --list edit; do
    args=(--list "$dir/$name.mp3")
    [ "$run" = edit ] && args=("$dir/$name.mp3" -set title T)
    /usr/bin/time -f '%M' -o "$dir/time" "$tagwell" "${args[@]}" >/dev/null
    printf '%-34s %10s %10s\n' "$what, $tag_kib KiB, $run" "$(tail -n 1 "$dir/time")" \
      $((4096 + 6 * tag_kib))
  done
done
