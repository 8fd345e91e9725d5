#!/usr/bin/env bash
# Installs the Debian packages the build needs, when some are missing:
#   install-deps.sh run    what building and running the server takes
#   install-deps.sh test   that, plus what the tests, fuzzing and packaging take
#   install-deps.sh browser what the web client's tests take: Node.js, npm and
#                          Debian's Chromium (the tests never download a browser)
# Installing needs root; otherwise the missing packages are named and it fails.
set -euo pipefail

run_packages=(cmake g++ make pkg-config libcli11-dev libsystemd-dev nettle-dev)
test_packages=(clang libclang-rt-14-dev libgtest-dev libedit-dev)
browser_packages=(chromium nodejs npm)
# A program that is there already, from wherever, stands for its package (a
# Node.js from elsewhere brings its own npm, which Debian's npm conflicts with).
declare -A program_of=([chromium]=/usr/bin/chromium [nodejs]=node [npm]=npm)

case "${1:-test}" in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    browser) packages=("${browser_packages[@]}") ;;
    *) echo "usage: install-deps.sh [run|test|browser]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
    if [[ -n ${program_of[$package]:-} ]] && command -v "${program_of[$package]}" >/dev/null; then continue; fi
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
