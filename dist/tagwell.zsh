#compdef tagwell
# zsh completion for tagwell: a file, then groups of -set, a field and a
# value; or --list and files.
if (( CURRENT == 2 )); then
  if [[ $PREFIX == -* ]]; then
    compadd -- --help --list --version
  else
    _files
  fi
elif [[ $words[2] == --list ]]; then
  _files
else
  case $(( (CURRENT - 3) % 3 )) in
    0) compadd -- -set ;;
    1) compadd -- tracknum artist album title year comment genre ;;
  esac
fi
