# Sourced by korvel's scripts: the Debian packages korvel needs, and functions
# that install those of them that are missing. The Python packages a build
# needs (scikit-build-core, pybind11, Boost's headers, CMake and Ninja where the
# machine has none) come from the package index, through pip.

# To build korvel with pip and run it.
korvel_build_packages=(g++)
# To test it and run its benchmarks as well: CMake and make for the test
# builds, GoogleTest, Clang (and llvm for the llvm-ar its link-time
# optimisation needs), the system's Boost, which two test configurations take,
# and Debian's Python, an interpreter korvel must refuse to load in; mypy
# checks that the installed korvel's types are found; Google Benchmark,
# pybind11 and valgrind for the benchmarks; Debian's Gaviota tables and their
# reader, which korvel_probe's tablebase is checked against.
korvel_test_packages=(cmake make git libgtest-dev clang llvm libboost-dev python3 mypy
                      libbenchmark-dev pybind11-dev valgrind gaviotatb libgaviotatb1)

# Brings the package lists up to date, and tells korvel_install_missing, here
# and in the scripts this one runs, that they need no other update.
korvel_apt_update() {
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
  $sudo apt-get update -qq
  export KORVEL_APT_UPDATED=1
}

# Installs those of the given packages that dpkg does not have installed, and
# says which; runs no apt-get when all are there.
korvel_install_missing() {
  local package missing=() sudo="" output update
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "korvel: installing Debian packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
  update=($sudo apt-get update)
  [ -z "${KORVEL_APT_UPDATED:-}" ] || update=(true)
  # apt's progress is shown only if it fails.
  if ! output=$("${update[@]}" 2>&1 &&
                $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" 2>&1)
  then
    echo "$output" >&2
    echo "korvel: could not install ${missing[*]}" >&2
    return 1
  fi
}
