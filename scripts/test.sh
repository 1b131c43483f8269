#!/bin/sh
# Sets up and runs every test: the formatting check, unit, host and
# end-to-end tests of the normal build,
# the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, and a
# bounded run of every fuzz target.
set -eu
cd "$(dirname "$0")/.."
JOBS=${VESK_TEST_JOBS:-2}
FUZZ_SECONDS=${VESK_FUZZ_SECONDS:-30}

scripts/setup.sh build

echo "== source formatting (clang-format)"
git ls-files 'src/*.cc' 'src/*.h' 'tests/*.cc' 'tests/*.h' 'bench/*.cc' 'bench/*.c' 'fuzz/*.cc' |
  xargs clang-format --dry-run --Werror

echo "== unit and end-to-end tests"
ctest --test-dir build --output-on-failure -j"$JOBS"

echo "== unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_BUILD_HOST=OFF
fi
ninja -C build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS" -L unit

echo "== fuzz targets, ${FUZZ_SECONDS}s each"
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVESK_FUZZ=ON -DVESK_BUILD_HOST=OFF -DVESK_BUILD_TESTS=OFF
fi
ninja -C build-fuzz
for fuzzer in build-fuzz/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  corpus="build-fuzz/corpus/$(basename "$fuzzer")"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$(basename "$fuzzer" _fuzzer)"
  [ -d "$seeds" ] || seeds=""
  "$fuzzer" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "$corpus" $seeds
done
echo "== all tests passed"
