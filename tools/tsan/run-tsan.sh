#!/bin/bash
# Builds the tests that drive our threads with ThreadSanitizer in build-tsan/
# and runs them, with Qt's locking made visible to the sanitizer
# (qt-sync-annotations.cpp) and races inside Qt's own code suppressed. Exits
# non-zero when a test fails or the sanitizer reports anything.
#   tools/tsan/run-tsan.sh                      both tests
#   tools/tsan/run-tsan.sh TEST [functions...]  one test (tst_reader or tst_video_direct3d9)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-tsan"
flags="-fsanitize=thread -fno-omit-frame-pointer"
tests=(tst_reader tst_video_direct3d9)
if [[ $# -gt 0 ]]; then
    tests=("$1")
    shift
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build" --target "${tests[@]}" d3d9 make-recording -j"${HARBEND_JOBS:-$(nproc)}"
g++ -std=c++17 -shared -fPIC -O1 $flags $(pkg-config --cflags Qt5Core) \
    "$root/tools/tsan/qt-sync-annotations.cpp" -o "$build/libqt-sync-annotations.so" $(pkg-config --libs Qt5Core) -ldl

# A report makes the process exit 66 once it ends, whatever the test's own result.
export TSAN_OPTIONS="halt_on_error=0 exitcode=66 detect_deadlocks=1 second_deadlock_stack=1 report_signal_unsafe=0 suppressions=$root/tools/tsan/qt.supp"
export LD_PRELOAD="$build/libqt-sync-annotations.so"
# The Direct3D 9 stand-in, found on the library path as under ctest.
export LD_LIBRARY_PATH="$build/direct3d9${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
status=0
for test in "${tests[@]}"; do
    "$root/tools/with-services.sh" "$build/bin/$test" "$@" || status=$?
done
exit $status
