# Sourced by scripts/test.sh and scripts/fuzz.sh: the one build the tests run in.
#
#   wrenpost_test_tree [TARGET...]    configure build-test/ and build the targets (default: all)
#
# clang with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, at -O1 so that
# the sanitizers and the fuzzer run at a usable speed while Qt's own assertions stay in. The
# same tree holds the program, every test executable and the libFuzzer target.
wrenpost_test_tree() {
    CC=clang CXX=clang++ cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" -DWRENPOST_SANITIZE=ON -DWRENPOST_TESTS=ON -DWRENPOST_BENCH=OFF >/dev/null
    if [[ $# -eq 0 ]]; then
        cmake --build build-test -j2
    else
        cmake --build build-test -j2 --target "$@"
    fi
}

# What the sanitizers do on a finding: stop the process with a report (leaks included).
wrenpost_sanitizer_options() {
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
}
