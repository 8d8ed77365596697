# Sourced by scripts/demo and scripts/demo-tango: installs the packages listed in
# scripts/packages that are missing (as root, or says how to), builds the panel and the
# simulator when needed, and starts them. Everything started ends with the script.

scripts/install-packages
source scripts/lib/wait.sh

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

# Sets port to the panel's remote-control port: MONOPANEL_PORT, else 8086, else (8086 taken)
# one the system has free. A taken port would leave the demo driving whatever listens there,
# so a taken MONOPANEL_PORT ends the script.
choose_port() {
    if [[ -n ${MONOPANEL_PORT:-} ]]; then
        port=$MONOPANEL_PORT
        if ! port_is_free "$port"; then
            echo "Port $port (MONOPANEL_PORT) is taken by another program; choose another." >&2
            exit 1
        fi
    elif port_is_free 8086; then
        port=8086
    else
        port=$(free_port)
        echo "Port 8086 is taken by another program: remote control is on port $port."
    fi
    choose_scpi_port
}

# Sets scpi_port, and MONOPANEL_SCPI_PORT for the panel, to its SCPI port: MONOPANEL_SCPI_PORT
# (0: none), else 5025, else (5025 taken) one the system has free.
choose_scpi_port() {
    if [[ -n ${MONOPANEL_SCPI_PORT:-} ]]; then
        scpi_port=$MONOPANEL_SCPI_PORT
    elif port_is_free 5025; then
        scpi_port=5025
    else
        scpi_port=$(free_port)
        echo "Port 5025 is taken by another program: SCPI is on port $scpi_port."
    fi
    export MONOPANEL_SCPI_PORT=$scpi_port
}

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
