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
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
