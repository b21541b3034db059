#!/bin/bash
# Makes the seek benchmark's recordings (13-channel Speex at its best quality,
# about 75 kB a second: 10 MB, 100 MB and 1 GB) into a cache folder when they
# are missing, then times 100 random seeks in each against ffmpeg.
#   bench/reader/run-seek-bench.sh [BUILD_DIR [CACHE_DIR]]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
cache="${2:-/tmp/harbend-bench}"
mkdir -p "$cache"
files=()
for entry in 10m:140 100m:1400 1g:14400; do
    name="seek-${entry%%:*}.ogg"
    if [[ ! -s "$cache/$name" ]]; then
        "$build/bin/make-recording" --stream speex:layout=serial1,mode=ultra,quality=10 \
            --duration "${entry##*:}" "$cache/$name"
    fi
    files+=("$cache/$name")
done
"$build/bin/bench_reader_seek" "${files[@]}"
