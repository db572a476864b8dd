#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and runs every test:
# the plain build, then the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the engine-boundary and worker tests
# under ThreadSanitizer. Random tests print their seed; STATION_TEST_SEED=<n>
# replays one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup-deps.sh

# ccache keys on paths relative to the tree, so a fresh clone in another
# folder still finds what an earlier build compiled.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
jobs=$(nproc)
build() { # dir, target, extra cmake args...
  local dir=$1 target=$2; shift 2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" --target "$target"
}

echo "== Plain build =="
build build all
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer =="
build build-asan station_tests "-DSTATION_SANITIZE=address;undefined" -DSTATION_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer (engine boundary and line workers) =="
build build-tsan tsan_tests -DSTATION_SANITIZE=thread -DSTATION_BENCHMARKS=OFF
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0" \
  ctest --test-dir build-tsan --output-on-failure -L tsan -j"$jobs"

# --- fastboot engine: libFuzzer on the reply parser and the sparse reader ---
# (g++ builds replay the corpus as the test FastbootFuzzReplay.)
echo "== libFuzzer (clang): fastboot replies and sparse images, 30 s =="
CC=clang CXX=clang++ build build-fuzz fastboot_fuzz -DSTATION_FUZZ=ON -DSTATION_BENCHMARKS=OFF
fuzz_work=$(mktemp -d)
cp tests/engine/fuzz/corpus/* "$fuzz_work/"
build-fuzz/tests/engine/fastboot_fuzz -max_total_time=30 -max_len=70000 "$fuzz_work"
rm -rf "$fuzz_work"

# --- modem protocol core: libFuzzer on Sahara packets, Firehose replies, rawprogram/patch files ---
echo "== libFuzzer (clang): modem protocol core, 3 x 20 s =="
CC=clang CXX=clang++ build build-fuzz modem_fuzz -DSTATION_FUZZ=ON -DSTATION_BENCHMARKS=OFF
for f in sahara:corpus-sahara firehosereply:corpus-firehose flashxml:corpus-flashxml; do
  fuzz_work=$(mktemp -d)
  cp tests/engine/modem/fuzz/${f#*:}/* "$fuzz_work/"
  build-fuzz/tests/engine/${f%%:*}fuzz -max_total_time=20 -max_len=8192 "$fuzz_work"
  rm -rf "$fuzz_work"
done
