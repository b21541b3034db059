#!/bin/bash
# Installs what is missing, builds and starts the player with the arguments given.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh" "$root/build"
bin="$root/build/bin"
# A first start without a recording gets a demo recording beside the player.
if [[ $# -eq 0 && -x "$bin/make-recording" ]] && ! ls "$bin"/*.ogg >/dev/null 2>&1; then
    "$bin/make-recording" --demo "$bin/demo.ogg" || true
fi
exec "$bin/harbend-player" "$@"
