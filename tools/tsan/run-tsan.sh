#!/bin/bash
# Builds the reader's tests with ThreadSanitizer in build-tsan/ and runs the
# tests that drive its threads, with Qt's locking made visible to the
# sanitizer (qt-sync-annotations.cpp) and Qt's own internals suppressed.
#   tools/tsan/run-tsan.sh [test functions...]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-tsan"
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$build" --target tst_reader make-recording -j"${HARBEND_JOBS:-$(nproc)}"
g++ -std=c++17 -shared -fPIC -O1 $flags $(pkg-config --cflags Qt5Core) \
    "$root/tools/tsan/qt-sync-annotations.cpp" -o "$build/libqt-sync-annotations.so" $(pkg-config --libs Qt5Core) -ldl
export TSAN_OPTIONS="halt_on_error=0 detect_deadlocks=1 second_deadlock_stack=1 report_signal_unsafe=0 suppressions=$root/tools/tsan/qt.supp"
export LD_PRELOAD="$build/libqt-sync-annotations.so"
"$root/tools/with-services.sh" "$build/bin/tst_reader" "$@"
