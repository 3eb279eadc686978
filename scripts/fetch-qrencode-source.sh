#!/bin/bash
# Fetches libqrencode's C source from Debian's source archive, for the Windows
# build of the barcode library (Debian ships libqrencode for Linux only).
#
#   scripts/fetch-qrencode-source.sh [DEST]      (default /var/tmp/it433td-src)
#
# Leaves DEST/qrencode-4.1.1 and prints its path. The machine's apt setup is
# not touched: a private source list and package index live under DEST/apt.
# apt checks the tarball against the signed index; we check it once more
# against the hash pinned here, so the build never compiles unknown code.
set -euo pipefail

dest=${1:-/var/tmp/it433td-src}
version=4.1.1
tarball=qrencode_${version}.orig.tar.bz2
sha256=e455d9732f8041cf5b9c388e345a641fd15707860f928e94507b1961256a6923
tree=$dest/qrencode-$version

if [[ -f $tree/qrencode.h ]]; then
  echo "$tree"
  exit 0
fi
# The mirror the machine's own apt sources use for the bookworm suite.
debian_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    awk '/^URIs:/ {uri=$2} /^Suites:/ && / bookworm( |$)/ && uri !~ /security/ {print uri; exit}' "$file"
  done | head -n 1
  grep -hsE '^deb +(\[[^]]*\] +)?[a-z]+://[^ ]+ +bookworm +' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    sed -E 's/^deb +(\[[^]]*\] +)?//; s/ .*//' | head -n 1
}

mkdir -p "$dest"
cd "$dest"

if [[ ! -f $tarball ]]; then
  # Same mirror as the machine's own package source, as deb-src.
  apt_dir=$dest/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  mirror=$(debian_mirror | head -n 1)
  [[ -n $mirror ]] || { echo "no Debian mirror found in the machine's apt sources" >&2; exit 1; }
  cat >"$apt_dir/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main
LIST
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
            -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
            -o "APT::Sandbox::User=root" -qq)
  apt-get "${apt_opts[@]}" update >&2
  # Only the upstream tarball is needed; the Debian packaging part may be
  # missing from a mirror without harm.
  apt-get "${apt_opts[@]}" source --download-only qrencode >&2 || true
fi

echo "$sha256  $tarball" | sha256sum --check --quiet - >&2
tar -xjf "$tarball"
echo "$tree"
