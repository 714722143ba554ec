# Timing helpers the benchmarks share; sourced, not run.

# Milliseconds taken by the command, to a tenth.
time_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.1f\n", ns / 1e6 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Sets `tagwell` to the built binary.
need_tagwell() {
  tagwell=$PWD/build/tagwell
  [ -x "$tagwell" ] || { echo "build/tagwell is missing: run ./run.sh first" >&2; exit 1; }
}

# Sets `tagwell` as need_tagwell does, and installs Debian's python3-mutagen
# for mid3v2 if it is missing.
need_tagwell_and_mid3v2() {
  need_tagwell
  if ! command -v mid3v2 >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-mutagen >/dev/null
  fi
}

# Sets `dir` to a new scratch folder, removed when the script exits.
make_scratch_dir() {
  dir=$(mktemp -d "${TMPDIR:-/tmp}/tagwell-bench-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
}

# 1,000 copies of the sample in $dir/$1, tagged with room unless $2 is "bare".
make_files() {
  rm -rf "${dir:?}/$1" && mkdir "$dir/$1"
  for i in $(seq 1000); do cp sample/sample.mp3 "$dir/$1/$i.mp3"; done
  if [ "$2" != bare ]; then
    "$tagwell" --each -set title Title -set artist Artist "$dir/$1"/*.mp3 >/dev/null
  fi
}
