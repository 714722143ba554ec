# bash completion for tagwell: a file, then groups of -set, a field and a
# value; or --list, --json and files; or --each, groups, an optional -- and
# files; or --apply and a manifest.

# Sets `words` and `cword` to the words before the cursor as tagwell will get
# them: for completion, bash also splits words at the characters of
# COMP_WORDBREAKS, such as ':' and '=', and those pieces are joined back.
_tagwell_words() {
  local line=${COMP_LINE:0:COMP_POINT} at=0 i word rest gap
  words=()
  for ((i = 0; i <= COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    rest=${line:at}
    gap=${rest%%[![:space:]]*}
    if ((i > 0 && ${#gap} == 0)); then
      words[-1]+=$word
    else
      words+=("$word")
    fi
    at=$((at + ${#gap} + ${#word}))
  done
  cword=$((${#words[@]} - 1))
}

_tagwell() {
  local words cword
  _tagwell_words
  local cur=${words[cword]}
  COMPREPLY=()
  if [ "$cword" -eq 1 ] && [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '--apply --each --help --list --version' -- "$cur")
  elif [ "${words[1]}" = --apply ]; then
    ((cword == 2)) && mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  elif [ "$cword" -eq 2 ] && [ "${words[1]}" = --list ] && [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '--json' -- "$cur")
  elif [ "$cword" -eq 1 ] || [ "${words[1]}" = --list ]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  elif [ "${words[1]}" = --each ]; then
    # The groups go on while a keyword reads -set; then come the files.
    local at=2
    while ((at < cword)) && [ "${words[at]}" = -set ]; do at=$((at + 3)); done
    if ((at > cword)); then
      (((cword - at) % 3 == -2)) && mapfile -t COMPREPLY < <(compgen -W \
        'tracknum artist album title year comment genre' -- "$cur")
    elif ((at == cword)); then
      # After a group, "--" or the files may come.
      local next=-set
      ((at > 2)) && next='-set --'
      mapfile -t COMPREPLY < <(compgen -W "$next" -- "$cur")
      ((at > 2)) && mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
  else
    case $(((cword - 2) % 3)) in
      0) mapfile -t COMPREPLY < <(compgen -W '-set' -- "$cur") ;;
      1) mapfile -t COMPREPLY < <(compgen -W \
           'tracknum artist album title year comment genre' -- "$cur") ;;
    esac
  fi
  # Readline replaces only what follows the last ':' or '=' of the word.
  local prefix=${cur%"${cur##*[:=]}"}
  COMPREPLY=("${COMPREPLY[@]#"$prefix"}")
}
complete -o filenames -F _tagwell tagwell
