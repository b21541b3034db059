#!/bin/bash
# Runs a command on a private Xvfb display and PulseAudio null sink, e.g.
#   tools/with-services.sh ctest --test-dir build -R queues
set -euo pipefail
source "$(dirname "$0")/services.sh"
start_services
trap stop_services EXIT
"$@"
