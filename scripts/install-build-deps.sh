#!/usr/bin/env bash
# Installs, on a Debian machine, what building peakpos and peakhkl needs and
# is not there yet: CMake, a C++ compiler, make, and gemmi's headers with the
# two header libraries it uses. Runs as root, or through sudo.
set -euo pipefail
pkgs=(cmake g++ make gemmi-dev tao-pegtl-dev libstb-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
