#!/bin/bash
# Builds the libFuzzer harnesses of tests/fuzz with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each over its seed corpus for a
# bounded time. Exits non-zero on any finding; the input that caused it is
# kept in BUILD/fuzz/<name>/ (crash-*, leak-*, timeout-*, oom-*).
# Usage: tools/fuzz.sh [SECONDS_PER_HARNESS [NAME...]]
#   SECONDS_PER_HARNESS: 60 by default; NAME: headers, decoder, ... (all by default)
#   FUZZ_BUILD: the build folder (build-fuzz)
#   FUZZ_SEED: libFuzzer's random seed (1, so that a run can be repeated; 0 picks one)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${FUZZ_BUILD:-$root/build-fuzz}"
seed="${FUZZ_SEED:-1}"

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DHARBEND_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_harnesses -j"${HARBEND_JOBS:-$(nproc)}"

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
    for harness in "$root"/tests/fuzz/fuzz_*.cpp; do
        name="$(basename "$harness" .cpp)"
        names+=("${name#fuzz_}")
    done
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0"
passed=0
failed=0
for name in "${names[@]}"; do
    work="$build/fuzz/$name"
    rm -rf "$work"
    mkdir -p "$work/corpus"
    # New inputs go to the work corpus; the seed corpus in the tree is only read.
    # The product's log lines go to standard output, which is closed.
    if "$build/bin/fuzz_$name" -max_total_time="$seconds" -seed="$seed" -timeout=30 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$root/tests/fuzz/corpus/$name" >"$work/log" 2>&1; then
        passed=$((passed + 1))
        runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")"
        edges="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | sed -n 's/.*cov: \([0-9]*\).*/\1/p' | tail -1)"
        instrumented="$(sed -n 's/^INFO: Loaded 1 modules *(\([0-9]*\) inline.*/\1/p' "$work/log")"
        echo "fuzz $name: no finding in ${seconds} s, ${runs:-?} runs, ${edges:-?} of ${instrumented:-?} edges covered"
    else
        failed=$((failed + 1))
        echo "fuzz $name: FINDING (input kept in $work/)"
        tail -n 80 "$work/log"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
