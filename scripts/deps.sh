#!/usr/bin/env bash
# Installs the system packages the C++ tests need and are missing: a C++
# compiler, make and GoogleTest, from Debian. The Python build needs none of
# this beyond a compiler: its other build requirements come from PyPI.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

need=()
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ "${#need[@]}" -gt 0 ]; then
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
