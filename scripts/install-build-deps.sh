#!/usr/bin/env bash
# Installs, on a Debian machine, what building peakpos and peakhkl needs and
# is not there yet: CMake, a C++ compiler, make, gemmi's headers with the
# two header libraries it uses, libxy (the formats the pattern reader
# reads through it), Tcl's headers for peakview's compiled reader, Ceres
# Solver with Eigen and nlohmann-json for peakfit, and xraylib for its
# X-ray absorption. Packages named as arguments are installed
# with them (scripts/install-test-deps.sh passes the test suite's). Runs as
# root, or through sudo.
#
# Another install, or the system's own updates on a fresh machine, may hold
# the package manager's locks: each apt-get call waits for them, up to
# PEAKPOS_APT_WAIT seconds (600), instead of failing at once.
set -euo pipefail
pkgs=(cmake g++ make gemmi-dev tao-pegtl-dev libstb-dev tcl-dev libxy-dev libceres-dev libeigen3-dev nlohmann-json3-dev libxrl-dev "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

wait_for=${PEAKPOS_APT_WAIT:-600}
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# apt-get ARGS..., waiting for the locks. apt-get itself waits for dpkg's
# lock (DPkg::Lock::Timeout), but not for the lock of its package lists,
# which "apt-get update" takes: while another process holds that one, the
# call is tried again every 5 seconds.
apt_get() {
  local waited=0 status=0 err
  err=$(mktemp)
  while :; do
    status=0
    LC_ALL=C "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get -o DPkg::Lock::Timeout="$wait_for" "$@" 2>"$err" || status=$?
    if [ "$status" -eq 0 ] || ! grep -q 'Could not get lock' "$err" || [ "$waited" -ge "$wait_for" ]; then
      cat "$err" >&2
      rm -f "$err"
      return "$status"
    fi
    [ "$waited" -gt 0 ] || echo "another process holds the package lists' lock ($(grep -m1 'Could not get lock' "$err" | sed 's/^E: //')); waiting up to $wait_for s" >&2
    sleep 5
    waited=$((waited + 5))
  done
}

echo "installing: ${missing[*]}"
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
