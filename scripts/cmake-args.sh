# Sourced by korvel's benchmark scripts after korvel_find_python: splits
# CMAKE_ARGS into the array cmake_args as the pip build splits it, quotes and
# all. Unset or empty, it gives no arguments at all.

# Fails with a one-line message if CMAKE_ARGS cannot be split, say for an
# unclosed quote: building without the arguments asked for would time another
# build than the one meant.
korvel_cmake_args() {
  # The words are separated by NULs, so that a quoted one may hold anything,
  # a newline included; $! is the splitter, whose exit status wait gives.
  mapfile -d '' -t cmake_args < <("$PYTHON" - <<'PY'
import os, shlex, sys
given = os.environ.get("CMAKE_ARGS", "")
try:
    words = shlex.split(given)
except ValueError as error:
    sys.exit(f"korvel: CMAKE_ARGS={given!r} cannot be split into arguments: {error}")
sys.stdout.write("".join(word + "\0" for word in words))
PY
  )
  wait $! || return 1
}
