#!/usr/bin/env bash
# Builds the libFuzzer target in the test build (build-test/, scripts/test-tree.sh) and fuzzes
# the local POP3 server's dialog for a minute, starting from a copy of the corpus kept in
# tests/fuzz/corpus.
#
#   bash scripts/fuzz.sh                    fuzz for FUZZ_SECONDS (default 60) seconds
#   FUZZ_KEEP=DIR bash scripts/fuzz.sh      the same, and keep the grown corpus in DIR
#   bash scripts/fuzz.sh merge [DIR...]     rewrite tests/fuzz/corpus as its hand-written seeds
#                                           and the fewest of its other inputs and DIRs' that
#                                           cover as much
#
# Any finding ends the script with a non-zero status: a crash or AddressSanitizer report, a
# leak, an input that runs past 30 s, a single allocation past 64 MB or a process past
# 512 MB, and every check the target makes itself (tests/fuzz/POP3DialogFuzz.cpp). The input
# is kept in build-test/findings/ and replayed with whole allocation stacks.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

source scripts/deps.sh
source scripts/test-tree.sh
wrenpost_deps test
wrenpost_test_tree fuzz_pop3_dialog
target=$repo/build-test/fuzz_pop3_dialog
corpus=$repo/tests/fuzz/corpus

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/artifacts" "$work/tmp"
# The target's mail folder and console.txt go below here, and go with it.
export TMPDIR=$work/tmp
# What the process holds should measure the target, not the sanitizer. The quarantine is
# smaller than its default 256 MB, which many small chunks make cost several times over.
# Allocation stacks are two frames deep while fuzzing: the fast unwinder walks into Qt's
# frames, built without frame pointers, and each garbage stack it finds there would be kept
# for good (over 100 MB in a few minutes); a finding is run again with whole, exact stacks.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16:malloc_context_size=2
replay_asan_options=detect_leaks=1:malloc_context_size=30:fast_unwind_on_malloc=0
export LSAN_OPTIONS="suppressions=$repo/tests/lsan.supp:print_suppressions=0"
if symbolizer=$(command -v llvm-symbolizer); then
    export ASAN_SYMBOLIZER_PATH=$symbolizer
fi
limits=(-rss_limit_mb=512 -malloc_limit_mb=64 -timeout=30 -max_len=4096)

if [[ ${1:-} == merge ]]; then
    shift
    # The hand-written seeds (named for what they play) all stay; inputs named by their hash
    # were kept by earlier merges and are merged again with the DIRs.
    mkdir "$work/grown"
    for input in "$corpus"/*; do
        if [[ $(basename "$input") =~ ^[0-9a-f]{40}$ ]]; then
            cp "$input" "$work/grown"/
        else
            cp "$input" "$work/corpus"/
        fi
    done
    # Edges alone, not how often each ran, decide what is kept: that keeps the committed
    # corpus to a few dozen inputs.
    "$target" -merge=1 -use_counters=0 "${limits[@]}" "$work/corpus" "$work/grown" "$@" >"$work/merge.log" 2>&1 || {
        tail -n 60 "$work/merge.log" >&2
        exit 1
    }
    rm -f "$corpus"/*
    cp "$work/corpus"/* "$corpus"/
    echo "fuzz.sh: tests/fuzz/corpus now holds $(ls "$corpus" | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KB" >&2
    exit 0
fi

cp "$corpus"/* "$work/corpus"/
seeds=$(ls "$work/corpus" | wc -l)
status=0
"$target" -max_total_time="${FUZZ_SECONDS:-60}" "${limits[@]}" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/fuzz.log" 2>&1 || status=$?

findings=("$work"/artifacts/{crash,leak,timeout,oom}-*)
existing=()
for finding in "${findings[@]}"; do
    if [[ -e $finding ]]; then
        existing+=("$finding")
    fi
done
if [[ $status -ne 0 || ${#existing[@]} -gt 0 ]]; then
    tail -n 120 "$work/fuzz.log" >&2
    mkdir -p build-test/findings
    for finding in "${existing[@]}"; do
        kept=build-test/findings/$(basename "$finding")
        cp "$finding" "$kept"
        ASAN_OPTIONS=$replay_asan_options "$target" "${limits[@]}" "$kept" >"$kept.log" 2>&1 || true
        echo "fuzz.sh: finding $kept; its replay with whole stacks ($kept.log) ends:" >&2
        tail -n 60 "$kept.log" >&2
    done
    echo "fuzz.sh: the fuzzer stopped with status $status and ${#existing[@]} finding(s)" >&2
    exit 1
fi

stat_of() { sed -n "s/^stat::$1: *//p" "$work/fuzz.log"; }
echo "fuzz.sh: no finding in $(stat_of number_of_executed_units) inputs ($(stat_of average_exec_per_sec)/s)," \
    "corpus $seeds -> $(ls "$work/corpus" | wc -l) inputs, peak RSS $(stat_of peak_rss_mb) MB" >&2
if [[ -n ${FUZZ_KEEP:-} ]]; then
    mkdir -p "$FUZZ_KEEP"
    cp "$work/corpus"/* "$FUZZ_KEEP"/
fi
