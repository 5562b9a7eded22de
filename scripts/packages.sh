# Sourced by korvel's scripts: the Debian packages korvel needs, and a function
# that installs those of them that are missing.

# To build korvel and run it.
korvel_build_packages=(cmake g++ make libboost-dev pybind11-dev)
# To test it and run its benchmarks as well. Clang is the second compiler, and
# llvm brings the llvm-ar its link-time optimisation needs; Debian's Python
# 3.11 is an interpreter korvel must refuse to load in; mypy checks that the
# installed korvel's types are found.
korvel_test_packages=(git libgtest-dev libbenchmark-dev clang llvm python3 python3-dev mypy)

# Debian 12's Boost 1.81, which the boost-1.81 test configuration unpacks into
# build/ since it cannot be installed beside libboost-dev.
korvel_boost_1_81_package=libboost1.81-dev

# Whether apt could fetch that package: its package lists know it. Downloads
# nothing.
korvel_boost_1_81_fetchable() {
  command -v apt-get >/dev/null &&
    apt-get download --print-uris "$korvel_boost_1_81_package" >/dev/null 2>&1
}

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
