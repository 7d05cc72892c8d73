#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the product need.
# Quick and silent when everything is already there.
set -euo pipefail

packages=(build-essential cmake pkg-config googletest libgtest-dev libbenchmark-dev
          libfuse3-dev fuse3 attr rsync python3 tar diffutils findutils
          libsystemd-dev dbus-daemon help2man bash-completion man-db dpkg-dev
          systemd udev umockdev
          nlohmann-json3-dev libedit-dev clang libclang-rt-14-dev lld)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
