#!/usr/bin/env bash
# Installs what the build needs and is missing: compilers and GoogleTest from
# Debian, and nlohmann_json 3.11.3 (Debian 13's package; on Debian 12 the same
# package is fetched from the trixie suite and unpacked into a private prefix).
# Prints the prefix CMake should search for nlohmann_json.
set -euo pipefail

cache=${STOWVEX_CACHE:-/var/cache/stowvex}
want=3.11.3
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

apt_updated=0
apt_update() {
    if [ "$apt_updated" -eq 0 ]; then
        $sudo apt-get update -qq >&2 || true
        apt_updated=1
    fi
}

need=()
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ "${#need[@]}" -gt 0 ]; then
    apt_update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
fi

have_system_json() {
    dpkg-query -W -f='${Version}' nlohmann-json3-dev 2>/dev/null | grep -q "^${want}-"
}

if have_system_json; then
    echo /usr
    exit 0
fi

# Debian 13 and later ship the wanted version in their own suite.
if apt-cache policy nlohmann-json3-dev 2>/dev/null | grep -q "Candidate: ${want}-"; then
    apt_update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq nlohmann-json3-dev >&2
    echo /usr
    exit 0
fi

prefix="$cache/nlohmann-json-$want"
if [ ! -f "$prefix/usr/include/nlohmann/json.hpp" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial" "$work/dl"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
        > "$work/sources.list"
    aptopts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
             -o "Dir::State::Lists=$work/lists" -o "APT::Sandbox::User=root")
    apt-get "${aptopts[@]}" update -qq >&2
    version=$(apt-cache "${aptopts[@]}" madison nlohmann-json3-dev | awk '{print $3}' | grep "^${want}-" | head -1)
    if [ -z "$version" ]; then
        echo "deps: nlohmann-json3-dev $want is not offered by Debian's trixie suite" >&2
        exit 1
    fi
    (cd "$work/dl" && apt-get "${aptopts[@]}" download "nlohmann-json3-dev=$version" >&2)
    $sudo mkdir -p "$prefix.tmp"
    $sudo dpkg -x "$work"/dl/nlohmann-json3-dev_*.deb "$prefix.tmp"
    $sudo rm -rf "$prefix"
    $sudo mv "$prefix.tmp" "$prefix"
fi
echo "$prefix/usr"
