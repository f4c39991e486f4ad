#!/usr/bin/env bash
# Installs what building pedseg needs, on Debian or Ubuntu.
#
#   scripts/install-deps.sh run    compiler, CMake, make, CLI11, Eigen, Boost.Math, NLopt
#   scripts/install-deps.sh test   the same and GoogleTest
#   scripts/install-deps.sh ci     the same and clang (fuzzing)
#
# Each need is checked by its command or header.  What is missing is
# installed with apt-get when running as root; otherwise the script stops and
# prints the one command that installs it.
set -euo pipefail

level=${1:-test}
case $level in
  run | test | ci) ;;
  *) echo "usage: $0 run|test|ci" >&2; exit 1 ;;
esac

need=()
has_header() { [ -f "/usr/include/$1" ] || [ -f "/usr/local/include/$1" ]; }

command -v c++ >/dev/null || command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
has_header CLI/CLI.hpp || need+=(libcli11-dev)
has_header eigen3/Eigen/Core || need+=(libeigen3-dev)
# libboost-math-dev brings the Boost headers (libboost1.74-dev), Boost.Random's
# Sobol sequence among them.
has_header boost/math/distributions/chi_squared.hpp || need+=(libboost-math-dev)
has_header boost/random/sobol.hpp || need+=(libboost-math-dev)
has_header nlopt.hpp || need+=(libnlopt-cxx-dev)
if [ "$level" != run ]; then
  has_header gtest/gtest.h || need+=(libgtest-dev)
fi
if [ "$level" = ci ]; then
  command -v clang++ >/dev/null || need+=(clang)
fi

[ ${#need[@]} -eq 0 ] && exit 0
mapfile -t need < <(printf '%s\n' "${need[@]}" | awk '!seen[$0]++')

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "Installing ${need[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
  exit 0
fi

echo "Missing: ${need[*]}. Install with:" >&2
echo "  sudo apt-get install -y ${need[*]}" >&2
exit 1
