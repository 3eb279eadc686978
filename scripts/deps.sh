#!/usr/bin/env bash
# Installs the Debian 12 packages of scripts/packages.txt that are missing.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t wanted < <(grep -vE '^\s*(#|$)' packages.txt)
missing=()
for package in "${wanted[@]}"; do
  # No pipe into grep -q: under pipefail a writer cut short by grep's early
  # exit would count an installed package as missing.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || status=""
  [[ $status == "install ok installed" ]] || missing+=("$package")
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
