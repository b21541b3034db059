#!/bin/bash
# Installs what is missing and builds. Usage: build.sh [BUILD_DIR [TARGET [cmake options...]]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
target="${2:-all}"
shift 2 || shift $# || true
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARBEND_WERROR=ON "$@"
cmake --build "$build" --target "$target" -j"${HARBEND_JOBS:-$(nproc)}"
