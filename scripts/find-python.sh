# Sourced by korvel's scripts: finds the CPython 3.9 that korvel is built for
# and sets PYTHON to its full path. Looks at an explicit $PYTHON first, then
# python3.9 on PATH, then the interpreters pyenv has installed.

# Prints the interpreter's own path if it is a working CPython 3.9.
korvel_python39_path() {
  [ -n "$1" ] && "$1" - 2>/dev/null <<'PY'
import sys
if sys.version_info[:2] != (3, 9) or sys.implementation.name != "cpython":
    sys.exit(1)
print(sys.executable)
PY
}

korvel_find_python() {
  local candidate found pyenv_root
  if [ -n "${PYTHON:-}" ]; then
    if found=$(korvel_python39_path "$PYTHON"); then
      export PYTHON=$found
      return 0
    fi
    echo "korvel: PYTHON=$PYTHON is not a working CPython 3.9 interpreter." >&2
    return 1
  fi
  pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  # A pyenv shim named python3.9 fails unless 3.9 is selected, so every
  # candidate is run, not just found.
  for candidate in "$(command -v python3.9 2>/dev/null)" "$pyenv_root"/versions/3.9*/bin/python3.9; do
    if found=$(korvel_python39_path "$candidate"); then
      export PYTHON=$found
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
