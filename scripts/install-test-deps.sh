#!/usr/bin/env bash
# Installs, on a Debian machine, whatever the test suite needs and is not
# there yet. The base list is below; parts of the suite that need more name
# their packages in scripts/test-deps.d/*.txt, one per line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# What the build needs comes first: the tests build the tools.
bash "$here/install-build-deps.sh"
pkgs=(cmake g++ make git libgtest-dev clang-format)
for list in "$here"/test-deps.d/*.txt; do
  [ -e "$list" ] || continue
  while read -r p _; do
    case "$p" in ''|'#'*) ;; *) pkgs+=("$p") ;; esac
  done < "$list"
done
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
