#!/usr/bin/env bash
# Installs what is missing, builds, and then either runs the first example
# program, examples/01_arithmetic.cpp ("example"), or the tests ("test"):
# every test in a normal and an AddressSanitizer+UndefinedBehaviorSanitizer
# build, and the thread tests in a ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-example}
jobs=$(nproc 2>/dev/null || echo 2)

packages=(build-essential cmake ninja-build pkg-config libcereal-dev nlohmann-json3-dev
          libgtest-dev libgmock-dev libbenchmark-dev librust-blake3-dev clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

configure_and_build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case "$mode" in
  example)
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DQUELT_BUILD_TESTS=OFF -DQUELT_BUILD_BENCHMARKS=OFF
    ./build/examples/quelt_example_01_arithmetic
    ;;
  test)
    bash tools/check_format.sh
    bash tools/check_layers.sh
    # Tests labelled `slow` (degrees 2^15 and 2^16) are left to a run by hand:
    # ctest -L slow.
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DQUELT_WERROR=ON -DQUELT_BUILD_BENCHMARKS=ON
    (cd build && ctest --output-on-failure -j "$jobs" -LE slow)
    # The suite above takes the fastest path of the processor (IFMA where it
    # has it); run it once more on the AVX-512 kernels without IFMA.
    if grep -qw avx512ifma /proc/cpuinfo 2>/dev/null; then
      (cd build && QUELT_TEST_SIMD=avx512 ctest --output-on-failure -j "$jobs" -LE "slow|install")
    fi
    configure_and_build build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" -DQUELT_WERROR=ON \
      -DQUELT_SANITIZE=ON -DQUELT_BUILD_BENCHMARKS=OFF -DQUELT_BUILD_EXAMPLES=OFF
    (cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --output-on-failure -j "$jobs" -LE slow)
    # ThreadSanitizer: only the library and the tests labelled `threads` (files
    # named *ThreadsTest.cpp: every test that shares objects across threads)
    # are built and run here.
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" -DQUELT_WERROR=ON \
      -DQUELT_TSAN=ON -DQUELT_BUILD_BENCHMARKS=OFF -DQUELT_BUILD_EXAMPLES=OFF
    # Address-space randomisation is turned off for this run: with high mmap
    # entropy some kernels place mappings where ThreadSanitizer cannot work.
    norandom=()
    setarch "$(uname -m)" -R true 2>/dev/null && norandom=(setarch "$(uname -m)" -R)
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 "${norandom[@]}" ctest --output-on-failure -j "$jobs" -L threads)
    ;;
  *)
    echo "usage: $0 [example|test]" >&2
    exit 2
    ;;
esac
