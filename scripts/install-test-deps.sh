#!/usr/bin/env bash
# Installs, on a Debian machine, whatever the test suite needs and is not
# there yet: what the build needs (the tests build the tools), the base list
# below, and the packages that parts of the suite name in
# scripts/test-deps.d/*.txt, one per line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pkgs=(git libgtest-dev clang-format)
for list in "$here"/test-deps.d/*.txt; do
  [ -e "$list" ] || continue
  while read -r p _; do
    case "$p" in ''|'#'*) ;; *) pkgs+=("$p") ;; esac
  done < "$list"
done
bash "$here/install-build-deps.sh" "${pkgs[@]}"
