#!/bin/bash
# Installs what is missing, builds and starts the player with the arguments given;
# without arguments it opens a demo recording, made on first use.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh" "$root/build"
bin="$root/build/bin"
if [[ $# -eq 0 && -x "$bin/make-recording" ]]; then
    # Kept out of the program's folder, where the player would also find it by itself
    # (and so would the tests that start the player from there).
    demo="$root/build/demo/demo.ogg"
    if [[ ! -f "$demo" || ! -f "${demo%.ogg}.xml" ]]; then
        mkdir -p "$(dirname "$demo")"
        "$bin/make-recording" --demo "$demo" || rm -f "$demo"
    fi
    [[ -f "$demo" ]] && exec "$bin/harbend-player" "$demo"
fi
exec "$bin/harbend-player" "$@"
