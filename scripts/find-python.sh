# Sourced by korvel's scripts: finds the CPython 3.9 that korvel is built for
# and sets PYTHON to it. Looks at an explicit $PYTHON first, then python3.9 on
# PATH, then the interpreters pyenv has installed.

korvel_is_python39() {
  [ -n "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 9))' >/dev/null 2>&1
}

korvel_find_python() {
  if [ -n "${PYTHON:-}" ]; then
    if korvel_is_python39 "$PYTHON"; then return 0; fi
    echo "korvel: PYTHON=$PYTHON is not a working CPython 3.9 interpreter." >&2
    return 1
  fi
  local candidate pyenv_root
  pyenv_root=$( (pyenv root) 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  # A pyenv shim named python3.9 fails unless 3.9 is selected, so every
  # candidate is run, not just found.
  for candidate in "$(command -v python3.9 2>/dev/null)" \
                   "$( (pyenv prefix 3.9) 2>/dev/null)/bin/python3.9" \
                   "$pyenv_root"/versions/3.9*/bin/python3.9; do
    if korvel_is_python39 "$candidate"; then
      PYTHON=$candidate
      export PYTHON
      return 0
    fi
  done
  cat >&2 <<'MSG'
korvel: no CPython 3.9 interpreter found.
  Looked at $PYTHON, python3.9 on PATH and pyenv's installed versions.
  Install CPython 3.9 with its development headers (for example
  `pyenv install 3.9.18`), or point PYTHON at one: PYTHON=/path/to/python3.9
MSG
  return 1
}
