#!/usr/bin/env bash
# Installs the Debian 12 packages of scripts/packages.txt that are missing.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t wanted < <(grep -vE '^\s*(#|$)' packages.txt)
missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Another apt run (an unattended upgrade, a parallel build) may hold the
  # lock for a while: wait for it instead of failing.
  apt_opts=(-o DPkg::Lock::Timeout=600 -qq)
  $sudo apt-get "${apt_opts[@]}" update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_opts[@]}" install -y "${missing[@]}" >/dev/null
fi
