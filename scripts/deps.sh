#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing:
#
#   scripts/deps.sh demo    what the demo builds with (packages-demo.txt)
#   scripts/deps.sh test    that and what the tests need (packages-test.txt)
#
# A package named with an architecture (wine32:i386) has that architecture
# added to dpkg first.
set -euo pipefail
cd "$(dirname "$0")"
# The demo leaves out recommended packages (documentation, extra tools) to
# stay quick on a fresh machine; the tests take Debian's usual set.
case ${1:-} in
  demo) lists=(packages-demo.txt) recommends=--no-install-recommends ;;
  test) lists=(packages-demo.txt packages-test.txt) recommends=--install-recommends ;;
  *) echo "usage: scripts/deps.sh demo|test" >&2; exit 2 ;;
esac
mapfile -t wanted < <(cat "${lists[@]}" | grep -vE '^\s*(#|$)')
missing=()
for package in "${wanted[@]}"; do
  # No pipe into grep -q: under pipefail a writer cut short by grep's early
  # exit would count an installed package as missing.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) || status=""
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for package in "${missing[@]}"; do
  [[ $package == *:* ]] || continue
  arch=${package##*:}
  foreign=$'\n'$(dpkg --print-foreign-architectures)$'\n'
  if [[ $arch != "$(dpkg --print-architecture)" && $foreign != *$'\n'$arch$'\n'* ]]; then
    $sudo dpkg --add-architecture "$arch"
  fi
done
# Another apt run (an unattended upgrade, a parallel build) may hold the
# lock for a while: wait for it instead of failing.
apt_opts=(-o DPkg::Lock::Timeout=600 -qq)
# A mirror mid-sync fails the update now and then ("File has unexpected
# size"): try again a little later; if an index still cannot be read, the
# install below says which package it could not find.
for wait in 10 30 0; do
  $sudo apt-get "${apt_opts[@]}" update && break
  ((wait)) || { echo "apt-get update failed three times; installing from the lists it has" >&2; break; }
  echo "apt-get update failed; again in $wait s" >&2
  sleep "$wait"
done
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_opts[@]}" install -y "$recommends" "$@" >/dev/null; }
native=() foreign=()
for package in "${missing[@]}"; do
  if [[ $package == *:* ]]; then foreign+=("$package"); else native+=("$package"); fi
done
((${#native[@]} == 0)) || install "${native[@]}"
# A foreign architecture's packages (wine32:i386) need that architecture's
# index at the versions of this one's: while a mirror serves a stale i386
# index, they cannot be installed at all. Everything else is, and the Wine
# tests then run the 64-bit width and report the 32-bit one as not run.
if ((${#foreign[@]})) && ! install "${foreign[@]}"; then
  echo "deps.sh: WARNING: ${foreign[*]} could not be installed (the mirror's index for its" \
       "architecture does not match this one's); the 32-bit Wine tests will not run" >&2
fi
