#!/usr/bin/env bash
# Installs Debian's chromium and chromium-driver when missing, for the test that
# loads a drawn result in a real browser. Never fails the build: where they cannot
# be installed, that test is skipped and says why.
set -uo pipefail

command -v chromium >/dev/null && command -v chromedriver >/dev/null && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing chromium and chromium-driver from Debian for the browser test" >&2
$sudo apt-get update -qq || true
if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        chromium chromium-driver >/dev/null; then
    echo "chromium could not be installed: the browser test will be skipped" >&2
fi
exit 0
