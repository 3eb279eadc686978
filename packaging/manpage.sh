#!/bin/sh
# it433td(1) from the tool's own help, with Debian's help2man: the page of
# `it433td --help` (options, subcommands, environment) and a section for
# each subcommand that help lists, from `it433td SUBCOMMAND --help`.
#
#   manpage.sh TOOL LIBDIR OUT      (OUT: the gzip-compressed page)
#
# LIBDIR is the installed library folder (/usr/lib): the help shows the
# module's default path beside the executable, which for the built TOOL is
# in the build tree.
set -eu
tool=$1 libdir=$2 out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
built=$(cd "$(dirname "$tool")/../lib" && pwd)
# help2man runs this, named it433td, which shows the installed paths.
cat >"$work/it433td" <<WRAPPER
#!/bin/sh
"$tool" "\$@" | sed 's|$built/|$libdir/|g'
WRAPPER
chmod +x "$work/it433td"

h2m() {
  help2man --no-info --no-discard-stderr "$@" \
    --name="print receipts on the IT433TD through its driver module, emulate the printer" \
    "$work/it433td"
}

subcommands=$("$tool" --help | sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p')
[ -n "$subcommands" ] || { echo "manpage.sh: no subcommands in $tool --help" >&2; exit 1; }
{
  echo "[COMMANDS]"
  for command in $subcommands; do
    # The subcommand's own page from its description to the environment
    # (the same for all); its sections become paragraphs of this subsection.
    echo ".SS \"it433td $command\""
    h2m --help-option="$command --help" | sed '1,/^\.SH DESCRIPTION$/d; /^\.SH ENVIRONMENT$/,$d' |
      sed 's/^\.SH OPTIONS$/.PP\n.B Options:/; s/^\.SS "\(.*\)"$/.PP\n.B \1/'
  done
} >"$work/commands.h2m"
h2m --include="$work/commands.h2m" | gzip -9n >"$out"
