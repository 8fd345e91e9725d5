#!/usr/bin/env bash
# Installs the Debian packages the build needs, when some are missing:
#   install-deps.sh run    what building and running the server takes
#   install-deps.sh test   that, plus what the tests, fuzzing and packaging take
# Installing needs root; otherwise the missing packages are named and it fails.
set -euo pipefail

run_packages=(cmake g++ make pkg-config libcli11-dev libsystemd-dev nettle-dev)
test_packages=(clang libclang-rt-14-dev libgtest-dev libedit-dev)

packages=("${run_packages[@]}")
if [[ "${1:-test}" == test ]]; then packages+=("${test_packages[@]}"); fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
((${#missing[@]} == 0)) && exit 0

if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
