#!/usr/bin/env bash
# How much of the code is tests: the lines of the .cpp, .h, .py and .sh files that git tracks
# under src/ and tests/, blank lines and comment lines (// in C++, # in Python and shell) left
# out (tests/fixtures and tests/fuzz/corpus are data).
# Prints the product's lines, the tests' lines, all code lines and the tests' share of it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# lines_of FOLDER EXTENSIONS COMMENT-MARK
lines_of() {
    git ls-files -- "$1" | grep -v -E '^tests/(fixtures|fuzz/corpus)/' | grep -E "\\.($2)\$" |
        xargs -r cat | grep -c -v -E "^\\s*($3.*)?\$" || true
}

code_lines() {
    echo $(($(lines_of "$1" 'cpp|h' '//') + $(lines_of "$1" 'py|sh' '#')))
}

src=$(code_lines src)
tests=$(code_lines tests)
all=$((src + tests))
echo "test-share: src $src lines, tests $tests lines, all $all lines: tests are $((100 * tests / all))% of all code"
