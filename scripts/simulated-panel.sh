# Sourced by scripts/demo and scripts/demo-tango: installs the packages listed in
# scripts/packages that are missing (as root, or says how to), builds the panel and the
# simulator when needed, and starts them. Everything started ends with the script.

scripts/install-packages

if [[ ! -f build/CMakeCache.txt ]]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug
fi
cmake --build build -j2 --target monopanel triaxsim

pids=()
stop_all() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Starts triaxsim with the given arguments and sets device to its pseudo-terminal.
start_simulator() {
    coproc SIMULATOR { exec build/sim/triaxsim "$@"; }
    pids+=("$SIMULATOR_PID")
    if ! read -r -t 10 device <&"${SIMULATOR[0]}"; then
        echo "The simulated instrument did not start." >&2
        exit 1
    fi
    echo "Simulated instrument on $device."
}

# Starts the panel on $device with the remote-control port $port, offscreen without a
# display (headless is then true); panel is its process.
start_panel() {
    headless=false
    if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
        headless=true
        echo "No display: running the panel offscreen (QT_QPA_PLATFORM=offscreen)."
        export QT_QPA_PLATFORM=offscreen
    fi
    # In the background, so that a signal to the script ends it too.
    build/app/monopanel "$device" "$port" &
    panel=$!
    pids+=("$panel")
}
