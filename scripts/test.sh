#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a RelWithDebInfo build in build/, then a
# build with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer in build-asan/;
# last, a minute of fuzzing the local POP3 server's dialog (scripts/fuzz.sh, build-fuzz/).
# Any failure, in any build or run, ends the script with a non-zero status.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

source scripts/deps.sh
wrenpost_deps test

export QT_QPA_PLATFORM=offscreen

phase_start=$SECONDS
phase() {
    echo "test.sh: $1 took $((SECONDS - phase_start)) s" >&2
    phase_start=$SECONDS
}

# A run that finds no tests is a broken build, not a pass.
run_ctest() {
    ctest --test-dir "$1" --output-on-failure -j2 --timeout 300 --no-tests=error
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWRENPOST_TESTS=ON -DWRENPOST_BENCH=OFF
cmake --build build -j2
phase "build/ (RelWithDebInfo) build"
run_ctest build
phase "build/ tests"

# The sanitizer options apply to the build too: test discovery runs each test executable.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$repo/tests/lsan.supp:print_suppressions=0"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWRENPOST_SANITIZE=ON -DWRENPOST_TESTS=ON -DWRENPOST_BENCH=OFF
cmake --build build-asan -j2
phase "build-asan/ (sanitizers) build"
run_ctest build-asan
phase "build-asan/ tests"

# The local POP3 server's dialog under libFuzzer for a minute (clang, AddressSanitizer).
bash scripts/fuzz.sh
phase "fuzz"
