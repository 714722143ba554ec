#compdef tagwell
# zsh completion for tagwell: a file, then groups of -set, a field and a
# value; or --list, --json and files; or --each, groups, an optional -- and
# files; or --apply and a manifest.
if (( CURRENT == 2 )); then
  if [[ $PREFIX == -* ]]; then
    compadd -- --apply --each --help --list --version
  else
    _files
  fi
elif [[ $words[2] == --apply ]]; then
  (( CURRENT == 3 )) && _files
elif [[ $words[2] == --list ]]; then
  (( CURRENT == 3 )) && compadd -- --json
  _files
elif [[ $words[2] == --each ]]; then
  # The groups go on while a keyword reads -set; then come the files.
  integer at=3
  while (( at < CURRENT )) && [[ $words[at] == -set ]]; do (( at += 3 )); done
  if (( at == CURRENT + 2 )); then
    compadd -- tracknum artist album title year comment genre
  elif (( at == CURRENT )); then
    # After a group, "--" or the files may come.
    compadd -- -set
    (( at > 3 )) && { compadd -- --; _files }
  elif (( at < CURRENT )); then
    _files
  fi
else
  case $(( (CURRENT - 3) % 3 )) in
    0) compadd -- -set ;;
    1) compadd -- tracknum artist album title year comment genre ;;
  esac
fi
