#!/bin/bash
# The Debian mirror that fetch-qrencode-source.sh finds in sample apt setups
# (IT433TD_APT_ETC): deb822 files only (a stock Debian 12), one-line files
# only, both kinds, and none at all.
#
#   test_qrencode_mirror.sh PATH/TO/fetch-qrencode-source.sh
set -uo pipefail
fetch=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# sample NAME: an empty apt folder for one case.
sample() { mkdir -p "$work/$1/sources.list.d"; echo "$work/$1"; }

# expect NAME MIRROR: the lookup in sample NAME prints MIRROR and succeeds.
expect() {
  local out status
  out=$(IT433TD_APT_ETC=$work/$1 "$fetch" --mirror 2>"$work/$1.err")
  status=$?
  if ((status != 0)) || [[ $out != "$2" ]]; then
    echo "FAIL $1: got \"$out\" (exit $status, stderr: $(cat "$work/$1.err")), want \"$2\""
    failures=$((failures + 1))
  fi
}

# A stock Debian 12: one deb822 file, the security suite first, and a stanza
# whose fields come in another order (deb822 allows any order).
etc=$(sample deb822)
cat >"$etc/sources.list.d/debian.sources" <<'SOURCES'
Types: deb
URIs: http://security.example.org/debian-security
Suites: bookworm-security
Components: main

# switched off: never the answer
Types: deb
URIs: http://disabled.example.org/debian
Suites: bookworm
Enabled: no

Types: deb deb-src
Components: main
Suites: bookworm bookworm-updates
URIs: http://deb822.example.org/debian
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
expect deb822 http://deb822.example.org/debian

# An older setup: /etc/apt/sources.list only, with options in brackets.
etc=$(sample oneline)
rmdir "$etc/sources.list.d"
cat >"$etc/sources.list" <<'LIST'
# deb http://commented.example.org/debian bookworm main
deb http://security.example.org/debian-security bookworm-security main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://oneline.example.org/debian bookworm main
LIST
expect oneline http://oneline.example.org/debian

# Both kinds: deb822 files are read first.
etc=$(sample both)
cp "$work/deb822/sources.list.d/debian.sources" "$etc/sources.list.d/"
cp "$work/oneline/sources.list" "$etc/"
echo "deb http://extra.example.org/debian bookworm contrib" >"$etc/sources.list.d/extra.list"
expect both http://deb822.example.org/debian

# Neither: the lookup fails and says why.
etc=$(sample neither)
echo "deb http://old.example.org/debian bullseye main" >"$etc/sources.list"
if IT433TD_APT_ETC=$etc "$fetch" --mirror >"$work/neither.out" 2>"$work/neither.err"; then
  echo "FAIL neither: succeeded with \"$(cat "$work/neither.out")\""
  failures=$((failures + 1))
elif [[ ! -s $work/neither.err ]]; then
  echo "FAIL neither: failed without a message"
  failures=$((failures + 1))
fi

((failures == 0)) && echo "all apt samples give the expected mirror"
exit $((failures > 0))
