# Sourced by scripts/package-check, scripts/demo-check and scripts/test-check: a bare Debian
# root of a release the project knows (scripts/release.sh) to try the project in, as a new
# machine would have it. Needs root. The pristine root of each release, made once by
# debootstrap --variant=minbase, is kept in $MONOPANEL_ROOTS (default build-roots/) under the
# release's code name and copied afresh for every check.

source scripts/release.sh
source scripts/lib/wait.sh

roots=$(realpath -m "${MONOPANEL_ROOTS:-build-roots}")
bare_root=

# Sets release to $1, or to the running release when $1 is empty; fails on one the project
# does not know.
choose_release() {
    release=${1:-$(running_release)}
    if ! known_release "$release"; then
        echo "A bare root is made of ${known_releases[*]}, not of \"$release\"." >&2
        exit 1
    fi
}

# Makes "$roots/$1-$2" a fresh copy of the pristine root of release $2, with /proc, /sys and
# /dev mounted, and sets bare_root to it. The mounts go when the calling script exits.
make_bare_root() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "A bare root needs root (debootstrap, chroot, mount)." >&2
        exit 1
    fi
    scripts/install-packages debootstrap
    if [[ ! -x $roots/$2/usr/bin/apt-get ]]; then
        echo "Making a bare $2 root in $roots/$2 (debootstrap)"
        rm -rf --one-file-system "${roots:?}/$2"
        mkdir -p "$roots"
        debootstrap --variant=minbase "$2" "$roots/$2" >"$roots/debootstrap-$2.log"
    fi
    release_bare_root
    bare_root=$roots/$1-$2
    rm -rf --one-file-system "$bare_root"
    cp -a "$roots/$2" "$bare_root"
    cp /etc/resolv.conf "$bare_root/etc/resolv.conf"
    # The root goes out through this machine's network, which may inspect TLS with an authority
    # of its own: the root trusts the authorities this machine's administrator added, as this
    # machine does (npm fetches over HTTPS). ca-certificates takes them in when it is installed.
    if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
        mkdir -p "$bare_root/usr/local/share/ca-certificates"
        cp /usr/local/share/ca-certificates/*.crt "$bare_root/usr/local/share/ca-certificates/"
        if [[ -x $bare_root/usr/sbin/update-ca-certificates ]]; then
            chroot "$bare_root" update-ca-certificates >/dev/null
        fi
    fi
    trap release_bare_root EXIT
    mount -t proc proc "$bare_root/proc"
    mount --rbind /sys "$bare_root/sys"
    mount --rbind /dev "$bare_root/dev"
    mount --make-rslave "$bare_root/sys"
    mount --make-rslave "$bare_root/dev"
}

# Copies this tree's files (tracked, and new ones not ignored) to /root/monopanel in the bare
# root, as a clone would have them, and says in it which commit they are of.
copy_tree_to_bare_root() {
    mkdir "$bare_root/root/monopanel"
    git ls-files -z --cached --others --exclude-standard |
        xargs -0 cp --parents -t "$bare_root/root/monopanel"
    describe_commit HEAD >"$bare_root/root/monopanel/cmake/sourcecommit.txt"
}

# Puts the files of commit $1 into the new directory $2, as a source archive of it, and says
# in it which commit they are of.
export_commit() {
    mkdir -p "$2"
    git archive "$1" | tar -x -C "$2"
    describe_commit "$1" >"$2/cmake/sourcecommit.txt"
}

# What a copy of the tree without git's history knows of commit $1, which its version comes
# from (cmake/BuildVersion.cmake): as git archive writes it, and the commit's number.
describe_commit() {
    echo "# Written by scripts/bare-root.sh for a copy of the tree without git's history."
    git log -1 --format='commit %H%ntime %ct%nrefs %D' "$1"
    echo "number $(git rev-list --count "$1")"
}

# The processes running in the bare root.
bare_root_processes() {
    local process
    for process in /proc/[0-9]*; do
        if [[ $(readlink "$process/root" 2>/dev/null) == "$bare_root" ]]; then
            echo "${process#/proc/}"
        fi
    done
}

# Sends signal $1 to every process running in the bare root.
signal_bare_root() {
    local pid
    for pid in $(bare_root_processes); do
        kill "-$1" "$pid" 2>/dev/null || true
    done
}

release_bare_root() {
    [[ -n $bare_root ]] || return 0
    signal_bare_root KILL
    local mount
    for mount in proc sys dev; do
        if mountpoint -q "$bare_root/$mount"; then
            umount -R "$bare_root/$mount" 2>/dev/null || umount -lR "$bare_root/$mount"
        fi
    done
}

# Calls status() on the remote-control server on port $1 and prints the HTTP answer, headers
# included. The root shares this machine's network (free_port gives its servers their ports),
# so the call is made from here, with this machine's curl.
call_status() {
    curl -si --max-time 5 -H 'Content-Type: text/xml' \
        --data-binary '<?xml version="1.0"?><methodCall><methodName>status</methodName></methodCall>' \
        "http://127.0.0.1:$1/"
}

# A clean environment without a display, as root has it on a new machine.
# Node.js reads the system's authorities, those added above among them, only when told.
bare_root_env=(/usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt)

# Runs a command in the bare root as root with that environment.
in_bare_root() {
    chroot "$bare_root" "${bare_root_env[@]}" "$@"
}
