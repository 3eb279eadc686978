#!/bin/bash
# Fetches libqrencode's C source from Debian's source archive, for the Windows
# build of the barcode library (Debian ships libqrencode for Linux only).
#
#   scripts/fetch-qrencode-source.sh [DEST]      (default /var/tmp/it433td-src)
#   scripts/fetch-qrencode-source.sh --mirror    print the mirror it would use
#
# Leaves DEST/qrencode-4.1.1 and prints its path. The machine's apt setup is
# not touched: a private source list and package index live under DEST/apt.
# apt checks the tarball against the signed index; we check it once more
# against the hash pinned here, so the build never compiles unknown code.
set -euo pipefail

dest=${1:-/var/tmp/it433td-src}
[[ $dest == --mirror ]] || dest=$(realpath -m -- "$dest")  # the printed path works from anywhere
version=4.1.1
tarball=qrencode_${version}.orig.tar.bz2
sha256=e455d9732f8041cf5b9c388e345a641fd15707860f928e94507b1961256a6923
tree=$dest/qrencode-$version

if [[ -f $tree/qrencode.h ]]; then
  echo "$tree"
  exit 0
fi
# The mirror the machine's own apt sources use for the bookworm suite, from
# deb822 files (*.sources) first, then one-line files (sources.list, *.list).
# Reads IT433TD_APT_ETC instead of /etc/apt when set (the tests' sample
# configurations). Either kind of file may be missing: a stock Debian 12 has
# only deb822 files, an older setup only one-line files.
debian_mirror() {
  local etc=${IT433TD_APT_ETC:-/etc/apt} file found=""
  local -a sources=() lists=()
  for file in "$etc"/sources.list.d/*.sources; do [[ -f $file ]] && sources+=("$file"); done
  for file in "$etc"/sources.list "$etc"/sources.list.d/*.list; do [[ -f $file ]] && lists+=("$file"); done
  if ((${#sources[@]})); then
    # Stanza by stanza (a blank line or a new file ends one), whatever the
    # order of its fields: the first enabled "deb" stanza for bookworm that
    # is not the security archive. Field names ignore case.
    found=$(awk '
      function stanza_end() {
        if (uri != "" && types ~ / deb( |$)/ && suites ~ / bookworm( |$)/ &&
            tolower(enabled) != "no" && uri !~ /security/) { print uri; done = 1; exit }
        uri = types = suites = enabled = ""
      }
      FNR == 1 { stanza_end() }
      /^[ \t]*$/ { stanza_end(); next }
      /^#/ { next }
      { field = tolower($1) }
      field == "uris:" { uri = $2 }
      field == "types:" { $1 = ""; types = $0 }
      field == "suites:" { $1 = ""; suites = $0 }
      field == "enabled:" { enabled = $2 }
      END { if (!done) stanza_end() }' "${sources[@]}")
  fi
  if [[ -z $found ]] && ((${#lists[@]})); then
    # grep exits 1 when no line matches: an answer, not an error. sed reads
    # all its input, so nothing upstream dies of a closed pipe.
    found=$({ grep -hE '^deb +(\[[^]]*\] +)?[a-z]+://[^ ]+ +bookworm +' "${lists[@]}" || true; } |
      sed -nE '1{s/^deb +(\[[^]]*\] +)?//; s/ .*//; p}')
  fi
  [[ -n $found ]] && echo "$found"
}

if [[ ${1:-} == --mirror ]]; then
  # Only print the mirror that would be used (for the tests).
  mirror=$(debian_mirror) || { echo "no Debian mirror found in the apt sources under ${IT433TD_APT_ETC:-/etc/apt}" >&2; exit 1; }
  echo "$mirror"
  exit 0
fi

mkdir -p "$dest"
cd "$dest"

if [[ ! -f $tarball ]]; then
  # Same mirror as the machine's own package source, as deb-src.
  apt_dir=$dest/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  mirror=$(debian_mirror) || { echo "no Debian mirror found in the apt sources under ${IT433TD_APT_ETC:-/etc/apt}" >&2; exit 1; }
  cat >"$apt_dir/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main
LIST
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
            -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
            -o "APT::Sandbox::User=root" -qq)
  apt-get "${apt_opts[@]}" update >&2
  # Only the upstream tarball is needed; the Debian packaging part may be
  # missing from a mirror without harm. apt's words about it ("E: Failed to
  # fetch ... debian.tar.xz 404 Not Found") go to a log, shown only when the
  # tarball did not come.
  apt-get "${apt_opts[@]}" source --download-only qrencode >"$apt_dir/source.log" 2>&1 || true
  [[ -f $tarball ]] || { cat "$apt_dir/source.log" >&2
                         echo "apt-get source did not fetch $tarball from $mirror" >&2; exit 1; }
fi

echo "$sha256  $tarball" | sha256sum --check --quiet - >&2
tar -xjf "$tarball"
echo "$tree"
