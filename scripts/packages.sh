# Sourced by korvel's scripts: the Debian packages korvel needs, and functions
# that install those of them that are missing. The Python packages a build
# needs (scikit-build-core, pybind11, Boost's headers, CMake and Ninja where the
# machine has none) come from the package index, through pip.

# To build korvel with pip and run it (scripts/setup-and-run).
korvel_build_packages=(g++)
# To test it (scripts/test), each configuration of CMakePresets.json: CMake and
# make, GCC and GoogleTest; Clang, and llvm for the llvm-ar its link-time
# optimisation needs; the system's Boost; Debian's Python, an interpreter
# korvel must refuse to load in, with venv, in which its pip must refuse to
# build korvel; mypy, which checks that the installed korvel's types are found;
# valgrind, whose header the build reads to register korvel's own stack (and
# without which Clang finds a member unused and stops, warnings being errors).
korvel_test_packages=(cmake make g++ libgtest-dev clang llvm libboost-dev python3 python3-venv mypy valgrind)
# Debian's Gaviota tables and their reader, against which korvel_probe's
# tablebase is checked: installed where Debian offers them; where it does not,
# those checks skip and say why.
korvel_offered_test_packages=(gaviotatb libgaviotatb1)
# To run bench/compare: CMake, make and GCC.
korvel_compare_packages=(cmake make g++)
# To run bench/run-native as well: Google Benchmark, pybind11, and valgrind for
# its --instructions.
korvel_bench_packages=(cmake make g++ libbenchmark-dev pybind11-dev valgrind)

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

# Installs those of the given packages that are missing and that Debian
# offers; says which it does not offer, and succeeds all the same.
korvel_install_offered() {
  local package missing=() offered=() sudo=""
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ -z "${KORVEL_APT_UPDATED:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get update -qq >/dev/null 2>&1 || true
    export KORVEL_APT_UPDATED=1
  fi
  for package in "${missing[@]}"; do
    if [ -n "$(apt-cache policy "$package" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '(none)')" ]; then
      offered+=("$package")
    else
      echo "korvel: Debian offers no $package here; the tests that need it will skip"
    fi
  done
  [ ${#offered[@]} -eq 0 ] || korvel_install_missing "${offered[@]}"
}
