# Sourced by korvel's scripts after korvel_find_python: virtual environments of
# CPython 3.9 under build/tools/, each holding the Python packages one build or
# test run takes from the package index.

# korvel_tools NAME REQUIREMENT...: makes build/tools/NAME if it is missing,
# installs the requirements there (pip's output is shown only if it fails), and
# sets tools_python to the environment's interpreter.
korvel_tools() {
  local folder=build/tools/$1 output
  shift
  if [ ! -x "$folder/bin/python" ] && ! output=$("$PYTHON" -m venv "$folder" 2>&1); then
    echo "$output" >&2
    echo "korvel: could not make the virtual environment $folder" >&2
    return 1
  fi
  if ! output=$("$folder/bin/python" -m pip install --disable-pip-version-check "$@" 2>&1); then
    echo "$output" >&2
    echo "korvel: could not install $* into $folder" >&2
    return 1
  fi
  tools_python=$PWD/$folder/bin/python
}
