#!/usr/bin/env bash
# Installs the benchmarks' tools, builds the Release driver and runs every benchmark through
# bench/run.py, which describes the sections and prints the table.
#
#   bash bench/run.sh [--sections 4,6]
#                                     (BENCH_REPEATS=N for another repeat count, default 5;
#                                      BENCH_RETRIEVE_REPEATS=N for sections 4 to 7, default 3;
#                                      BENCH_SECTIONS=4,6 or --sections 4,6 runs only the sections
#                                      listed; BENCH_500MB=0 leaves out the 500 MB retrieval)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-bench"

bash "$root/scripts/deps.sh" bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWRENPOST_TESTS=OFF -DWRENPOST_BENCH=ON >/dev/null
cmake --build "$build" --target wrenpost-bench

# Debian's interpreter, not a version manager's that may come first on PATH: getmail's modules
# and the process times of the poplib client depend on it.
exec /usr/bin/python3 "$root/bench/run.py" --driver "$build/wrenpost-bench" "$@"
