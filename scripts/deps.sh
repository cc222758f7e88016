#!/usr/bin/env bash
# Installs the Debian packages a make target needs and are missing:
#   scripts/deps.sh compiler  a C++ compiler (building the extension modules)
#   scripts/deps.sh cpp    a C++ compiler, make and GoogleTest (the C++ tests)
#   scripts/deps.sh lint   clang-format (make lint, make format)
#   scripts/deps.sh wrk    the HTTP load generator wrk (make bench-service)
# The Python build needs none of this beyond a compiler: its other build
# requirements come from PyPI.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

need=()
for what in "${@:-cpp}"; do
    case "$what" in
        compiler)
            command -v g++ >/dev/null || need+=(g++)
            ;;
        cpp)
            command -v g++ >/dev/null || need+=(g++)
            command -v make >/dev/null || need+=(make)
            [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
            ;;
        lint)
            command -v clang-format >/dev/null || need+=(clang-format)
            ;;
        wrk)
            command -v wrk >/dev/null || need+=(wrk)
            ;;
        *)
            echo "scripts/deps.sh: unknown need '$what' (compiler, cpp, lint, wrk)" >&2
            exit 2
            ;;
    esac
done
if [ "${#need[@]}" -gt 0 ]; then
    echo "installing ${need[*]} from Debian" >&2
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
