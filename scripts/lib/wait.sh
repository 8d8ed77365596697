# Sourced by the scripts that start programs and wait for them: a poll until a condition
# holds, and the TCP ports to give those programs (scripts/lib/port.py). The ports are this
# machine's, which its bare roots share (scripts/bare-root.sh).

# Runs the command given after $1 every fifth of a second until it succeeds, for at most $1
# seconds; fails when the time runs out first.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        if ((SECONDS >= deadline)); then
            return 1
        fi
        sleep 0.2
    done
}

# Whether the process $1 has ended.
process_ended() {
    ! kill -0 "$1" 2>/dev/null
}

# Prints a TCP port that nothing uses now.
free_port() {
    python3 "$(dirname "${BASH_SOURCE[0]}")/port.py" free
}

# Whether nothing listens on TCP port $1, on any IPv4 interface.
port_is_free() {
    python3 "$(dirname "${BASH_SOURCE[0]}")/port.py" is-free "$1"
}

# Whether a program accepts connections on TCP port $1 of 127.0.0.1.
port_listens() {
    python3 "$(dirname "${BASH_SOURCE[0]}")/port.py" listens "$1"
}
