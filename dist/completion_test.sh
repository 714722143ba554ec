#!/usr/bin/env bash
# The bash completion, called as bash calls it after splitting the line into
# words (at ':' and '=' too); prints each failing case and fails.
source "$(dirname "$0")/tagwell.bash"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
: >"$dir/re:mix.mp3"
failed=0

# The line as typed, with the cursor at its end; what is offered; the words.
offers() {
  COMP_LINE=$1 COMP_POINT=${#1}
  local want=$2
  COMP_WORDS=("${@:3}") COMP_CWORD=$(($# - 3))
  _tagwell
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}")
  [ "$got" = "$want" ] || { echo "'$1' offers '$got'"; failed=1; }
}

offers 'tagwell --' $'--help\n--list\n--version' tagwell --
offers 'tagwell song.mp3 -set ' $'tracknum\nartist\nalbum\ntitle\nyear\ncomment\ngenre' \
  tagwell song.mp3 -set ''
offers 'tagwell s -set title Re:Mix -' -set tagwell s -set title Re : Mix -
offers 'tagwell s -set title a=b -set ye' year tagwell s -set title a = b -set ye
offers "tagwell --list a $dir/re:" mix.mp3 tagwell --list a "$dir/re" :
exit $failed
