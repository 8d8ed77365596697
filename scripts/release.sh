# Sourced by the scripts that install packages or make bare roots: which Debian release this
# is, and which releases the project knows.

known_releases=(bookworm trixie)

# The running release's code name (VERSION_CODENAME of /etc/os-release), or "unknown".
running_release() {
    (
        [[ -r /etc/os-release ]] && source /etc/os-release
        echo "${VERSION_CODENAME:-unknown}"
    )
}

running_release_name() {
    (
        [[ -r /etc/os-release ]] && source /etc/os-release
        echo "${PRETTY_NAME:-an unknown system}"
    )
}

known_release() {
    local known
    for known in "${known_releases[@]}"; do
        [[ $1 == "$known" ]] && return 0
    done
    return 1
}

# The lines of a package list (standard input) that are for release $1: comments and empty
# lines dropped, a line with "[release]" kept only for that release, a line with
# "unless-command:NAME" dropped where the command NAME is already installed from elsewhere.
packages_for() {
    sed -e 's/#.*//' -e '/^[[:space:]]*$/d' |
        while read -r package conditions; do
            local wanted=yes condition
            for condition in $conditions; do
                case $condition in
                    "[$1]") ;;
                    \[*\]) wanted=no ;;
                    unless-command:*) command -v "${condition#unless-command:}" >/dev/null && wanted=no ;;
                esac
            done
            if [[ $wanted == yes ]]; then
                echo "$package"
            fi
        done
}
