#!/bin/bash
# Installs what is missing, builds, and runs every test: the whole suite, then
# the tests labelled "sanitize" again in a sanitizer build. Exits non-zero on
# any failure. Extra arguments go to ctest (for example -R logging).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh" "$root/build"
"$root/tools/build.sh" "$root/build-sanitize" sanitize_tests -DHARBEND_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

source "$root/tools/services.sh"
start_services
trap stop_services EXIT

# Prints the names of the failed tests of the last ctest run in $1 whose test
# functions all passed and whose process then crashed on its way out (a crash
# inside a library's exit-time clean-up). A failed function, a sanitizer
# report or a time-out never qualifies.
crashed_after_passing() {
    local temp="$1/Testing/Temporary" name output
    [[ -f "$temp/LastTestsFailed.log" ]] || return 0
    while IFS=: read -r _ name; do
        output="$(awk -v name="$name" '
            $0 ~ "Test: " name "$" { inside = 1 }
            inside { print }
            inside && $0 ~ "^\"" name "\" end time" { exit }' "$temp/LastTest.log")"
        grep -Eq '^Totals: [0-9]+ passed, 0 failed' <<<"$output" || continue
        grep -Eq '^FAIL!|AddressSanitizer|LeakSanitizer|runtime error:|Timeout|Killed' <<<"$output" && continue
        echo "$name"
    done <"$temp/LastTestsFailed.log"
}

# Runs ctest in the build folder $1 with the other arguments. A test that
# failed runs again only if every one of its functions passed and its process
# then crashed; that second run is announced, and it must pass outright.
run_ctest() {
    local dir="$1"
    shift
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@" && return 0
    local crashed all
    crashed="$(crashed_after_passing "$dir")"
    all="$(sed -n 's/^[0-9]*://p' "$dir/Testing/Temporary/LastTestsFailed.log" | sort)"
    if [[ -z "$crashed" || "$(sort <<<"$crashed")" != "$all" ]]; then
        return 1
    fi
    echo "RETRY: these tests passed every test function, then crashed at exit; running them once more:"
    echo "$crashed"
    ctest --test-dir "$dir" --output-on-failure -R "^($(paste -sd'|' <<<"$crashed"))\$" "$@"
}

status=0
run_ctest "$root/build" "$@" || status=1
if [[ -n "$(ctest --test-dir "$root/build-sanitize" -N -L sanitize | grep 'Test *#' || true)" ]]; then
    ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_ctest "$root/build-sanitize" -L sanitize "$@" || status=1
fi
exit $status
