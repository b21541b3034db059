# Sourced by the test scripts: a private Xvfb display, a private PulseAudio
# daemon whose default sink is a null sink (record it from nullsink.monitor),
# and private XDG folders, all removed by stop_services.

start_services() {
    HARBEND_SERVICES_DIR="$(mktemp -d /tmp/harbend-test.XXXXXX)"
    export HARBEND_SERVICES_DIR
    export XDG_CONFIG_HOME="$HARBEND_SERVICES_DIR/config"
    export XDG_DATA_HOME="$HARBEND_SERVICES_DIR/data"
    export XDG_CACHE_HOME="$HARBEND_SERVICES_DIR/cache"
    export XDG_RUNTIME_DIR="$HARBEND_SERVICES_DIR/runtime"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"

    Xvfb -displayfd 3 -screen 0 1920x1080x24 +extension GLX -nolisten tcp \
        3>"$HARBEND_SERVICES_DIR/display" >"$HARBEND_SERVICES_DIR/xvfb.log" 2>&1 &
    HARBEND_XVFB_PID=$!
    for _ in $(seq 1 100); do
        [[ -s "$HARBEND_SERVICES_DIR/display" ]] && break
        sleep 0.1
    done
    [[ -s "$HARBEND_SERVICES_DIR/display" ]] || { echo "Xvfb did not start"; cat "$HARBEND_SERVICES_DIR/xvfb.log"; return 1; }
    export DISPLAY=":$(cat "$HARBEND_SERVICES_DIR/display")"

    export PULSE_RUNTIME_PATH="$HARBEND_SERVICES_DIR/pulse"
    export PULSE_STATE_PATH="$HARBEND_SERVICES_DIR/pulse-state"
    export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    # Not daemonized, so that its process id is known: --disallow-exit makes
    # it refuse "pactl exit", and stop_services ends it by that id.
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
        --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix \
        --log-target=file:"$HARBEND_SERVICES_DIR/pulse.log" >/dev/null 2>&1 &
    HARBEND_PULSE_PID=$!
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start"; cat "$HARBEND_SERVICES_DIR/pulse.log"; return 1; }
    pactl set-default-sink nullsink
}

stop_services() {
    local pid
    for pid in "${HARBEND_PULSE_PID:-}" "${HARBEND_XVFB_PID:-}"; do
        [[ -n "$pid" ]] && { kill "$pid" && wait "$pid"; } 2>/dev/null || true
    done
    [[ -n "${HARBEND_SERVICES_DIR:-}" ]] && rm -rf "$HARBEND_SERVICES_DIR"
    return 0
}
