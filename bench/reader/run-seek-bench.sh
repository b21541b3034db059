#!/bin/bash
# Makes the seek benchmark's recordings into a cache folder when they are
# missing, then times 100 random seeks in each against ffmpeg:
#   - 13-channel Speex at its best quality (about 75 kB a second, constant),
#   - 320x240 Theora with stereo Vorbis, and stereo Vorbis alone, whose every
#     other 7 s carry noise, so that their bit rate varies (Theora by 60
#     times, Vorbis by 4): the bisection cannot hit on its first probe.
# Each at 10 MB; with --large also at 100 MB and 1 GB (making those takes
# minutes, once).
#   bench/reader/run-seek-bench.sh [--large] [BUILD_DIR [CACHE_DIR]]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
sizes="10m"
if [[ "${1:-}" == "--large" ]]; then
    sizes="10m 100m 1g"
    shift
fi
build="${1:-$root/build}"
cache="${2:-/tmp/harbend-bench}"
mkdir -p "$cache"
# Seconds per 10 MB of each kind.
declare -A kinds=(
    [speex]="140 --stream speex:layout=serial1,mode=ultra,quality=10"
    [vbr-av]="33 --stream theora:width=320,height=240,busy=7 --stream vorbis:channels=2,rate=44100,busy=7"
    [vbr-vorbis]="320 --stream vorbis:channels=2,rate=44100,quality=1.0,busy=7"
)
files=()
for kind in speex vbr-av vbr-vorbis; do
    read -r seconds streams <<<"${kinds[$kind]}"
    for size in $sizes; do
        case "$size" in 10m) scale=1 ;; 100m) scale=10 ;; 1g) scale=100 ;; esac
        name="seek-$kind-$size.ogg"
        if [[ ! -s "$cache/$name" ]]; then
            # shellcheck disable=SC2086
            "$build/bin/make-recording" $streams --duration "$((seconds * scale))" "$cache/$name"
        fi
        files+=("$cache/$name")
    done
done
"$build/bin/bench_reader_seek" "${files[@]}"
