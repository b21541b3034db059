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

# Every test runs once: a failure, or a crash at exit, fails the run.
status=0
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)" "$@" || status=1
if [[ -n "$(ctest --test-dir "$root/build-sanitize" -N -L sanitize | grep 'Test *#' || true)" ]]; then
    ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$(nproc)" -L sanitize "$@" || status=1
fi
exit $status
