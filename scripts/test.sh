#!/usr/bin/env bash
# Builds the program and its tests once, in build-test/ (clang, AddressSanitizer, LeakSanitizer,
# UndefinedBehaviorSanitizer), runs every test there, the fuzz target's kept corpus among them,
# then fuzzes the local POP3 server's dialog for a minute (scripts/fuzz.sh) and prints the tests'
# share of the code. Any failure ends the script with a non-zero status.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
source scripts/test-tree.sh

start=$SECONDS
phase_start=$SECONDS
phase() {
    echo "test.sh: $1 took $((SECONDS - phase_start)) s" >&2
    phase_start=$SECONDS
}

wrenpost_deps test
phase "installing packages"

wrenpost_test_tree
phase "building build-test/"

export QT_QPA_PLATFORM=offscreen
wrenpost_sanitizer_options
# A run that finds no tests is a broken build, not a pass.
ctest --test-dir build-test --output-on-failure -j2 --timeout 300 --no-tests=error
phase "the tests"

bash scripts/fuzz.sh
phase "fuzzing"

bash scripts/test-share.sh
echo "test.sh: everything passed in $((SECONDS - start)) s" >&2
