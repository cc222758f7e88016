#!/usr/bin/env bash
# Builds stowvex for CPython 3.15 and runs the C++ and Python tests with it.
#
# The interpreter is Debian's own python3.15 package from the sid suite. It
# lives in a minimal sid root made with debootstrap and kept outside the
# clone, at $STOWVEX_CACHE/sid-py315 (default /var/cache/stowvex/sid-py315),
# so only the first run pays for making it. The root is made under a temporary
# name and renamed into place when complete; an interrupted run leaves no
# root that looks finished.
#
# Each run copies the work tree (without build output) into the root and runs
# `make test PYTHON=python3.15` there under chroot: the project's own recipe,
# with sid's g++, GoogleTest and python3.15, and nlohmann_json 3.11.3 from
# PyPI, as everywhere.
#
# Usage: scripts/py315.sh [prepare|test|shell]   (default: test)
#   prepare  make the root if it is missing or out of date, nothing else
#   test     prepare, then build and test in the root
#   shell    prepare, then an interactive shell in the root's copy of the tree
#
# Environment:
#   STOWVEX_CACHE          cache directory (default /var/cache/stowvex)
#   STOWVEX_DEBIAN_MIRROR  Debian archive (default http://deb.debian.org/debian)
#   STOWVEX_REFRESH=1      make the root again even if a complete one exists
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
action=${1:-test}
case "$action" in
    prepare|test|shell) ;;
    *) echo "usage: $0 [prepare|test|shell]" >&2; exit 2 ;;
esac

# chroot, mounts and debootstrap need root.
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=STOWVEX_CACHE,STOWVEX_DEBIAN_MIRROR,STOWVEX_REFRESH,CI "$0" "$@"
fi

cache=${STOWVEX_CACHE:-/var/cache/stowvex}
mirror=${STOWVEX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
root="$cache/sid-py315"
# What goes into the root. Changing this list (or the recipe below) changes
# the stamp, and the next run makes the root afresh. python3 is sid's default
# interpreter (a different minor version), which lets the import test load a
# 3.15 module into a second interpreter.
packages=python3.15,python3.15-dev,python3.15-venv,python3,g++,make,libgtest-dev,debian-archive-keyring,ca-certificates
stamp="sid-py315 recipe 2; $packages"
src_in_root=/srv/stowvex

log() { printf 'py315: %s\n' "$*" >&2; }

root_is_complete() {
    [ -f "$root/.stowvex-root" ] && [ "$(cat "$root/.stowvex-root")" = "$stamp" ]
}

# Copy a host file into the root, never writing through a link in the root.
put_in_root() {
    local from=$1 to=$root$2
    rm -f "$to"
    cp -L "$from" "$to"
}

# The network settings and certificate authorities of the host, so that apt
# and pip inside behave as they do outside (the host may sit behind a proxy
# that presents its own certificate).
host_ca_bundle() {
    local f
    for f in "${SSL_CERT_FILE:-}" /etc/ssl/certs/ca-certificates.crt /etc/pki/tls/certs/ca-bundle.crt; do
        if [ -n "$f" ] && [ -s "$f" ]; then echo "$f"; return; fi
    done
}

sync_host_config() {
    local ca
    local f
    for f in /etc/resolv.conf /etc/hosts; do
        if [ -e "$f" ]; then put_in_root "$f" "$f"; fi
    done
    ca=$(host_ca_bundle)
    if [ -n "$ca" ]; then
        mkdir -p "$root/etc/ssl/certs"
        put_in_root "$ca" /etc/ssl/certs/stowvex-host-ca.crt
    fi
}

# Runs "$@" inside the root under chroot, in a private mount namespace: the
# mounts of /proc and /dev exist only for that command and vanish with it,
# however it ends.
in_root() {
    local -a envs=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
                   HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive
                   PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180)
    local v
    for v in CI http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY PIP_INDEX_URL; do
        if [ -n "${!v:-}" ]; then envs+=("$v=${!v}"); fi
    done
    if [ -f "$root/etc/ssl/certs/stowvex-host-ca.crt" ]; then
        envs+=(PIP_CERT=/etc/ssl/certs/stowvex-host-ca.crt
               SSL_CERT_FILE=/etc/ssl/certs/stowvex-host-ca.crt)
    fi
    unshare --mount --propagation private -- /bin/sh -euc '
        root=$1; shift
        mount --bind /proc "$root/proc"
        mount --bind /dev "$root/dev"
        mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
        exec chroot "$root" /usr/bin/env -i "$@"
    ' in_root "$root" "${envs[@]}" "$@"
}

prepare_root() {
    mkdir -p "$cache"
    if root_is_complete && [ "${STOWVEX_REFRESH:-0}" != 1 ]; then
        return
    fi
    # Leftovers of interrupted runs. debootstrap and every chroot run in their
    # own mount namespace, so nothing is mounted beneath them any more.
    rm -rf --one-file-system "$cache"/sid-py315.tmp.* "$cache"/sid-py315.old.*

    if ! command -v debootstrap >/dev/null; then
        log "installing debootstrap"
        apt-get update -qq >&2 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >&2
    fi
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    local -a keyopt=()
    if [ -f "$keyring" ]; then keyopt=(--keyring="$keyring"); fi

    local tmp final=$root
    tmp=$(mktemp -d "$cache/sid-py315.tmp.XXXXXX")
    log "making a Debian sid root with python3.15 in $tmp (first run only)"
    if ! unshare --mount --propagation private -- \
            debootstrap --variant=minbase "${keyopt[@]}" --include="$packages" \
            sid "$tmp" "$mirror" > "$tmp.log" 2>&1; then
        tail -n 40 "$tmp.log" >&2
        log "debootstrap failed; its whole log is $tmp.log"
        exit 1
    fi
    rm -f "$tmp.log"

    root=$tmp
    in_root apt-get clean
    root=$final

    echo "$stamp" > "$tmp/.stowvex-root"
    if [ -e "$root" ]; then
        mv "$root" "$(mktemp -u "$cache/sid-py315.old.XXXXXX")"
    fi
    mv "$tmp" "$root"
    rm -rf --one-file-system "$cache"/sid-py315.old.*
    log "root ready: $root"
}

copy_tree() {
    rm -rf --one-file-system "$root$src_in_root"
    mkdir -p "$root$src_in_root"
    tar -C "$here" --exclude=./.git --exclude=./build --exclude=./.venv \
        --exclude=__pycache__ --exclude=.pytest_cache --exclude=.hypothesis \
        -cf - . | tar -C "$root$src_in_root" -xf -
}

mkdir -p "$cache"
exec 9>"$cache/sid-py315.lock"
flock 9

prepare_root
[ "$action" = prepare ] && exit 0

sync_host_config
copy_tree
log "$(in_root python3.15 -c 'import sys; print("CPython", sys.version.split()[0], "in", sys.prefix)')"
if [ "$action" = shell ]; then
    in_root /bin/bash -c "cd $src_in_root && exec bash -i"
else
    in_root /bin/bash -c "cd $src_in_root && make test PYTHON=python3.15"
fi
