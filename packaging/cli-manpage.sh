#!/usr/bin/env bash
# Writes dustmaw-cli's manual page from its own help texts, so the page
# says what the program says: the overview from --help, then every
# command's own --help as a subsection.
set -euo pipefail
cli=$1 out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  echo '[COMMANDS]'
  for command in $("$cli" --help | awk '/^  [a-z]/ {print $1}'); do
    echo ".SS $command"
    echo '.nf'
    # Backslashes and a leading dot or quote mean something to roff.
    "$cli" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo '.fi'
  done
  cat <<'ROFF'
[ENVIRONMENT]
.TP
.B DUSTMAW_HOME
the home folder for DM.ini, characters, logs and the battle history;
.I $XDG_DATA_HOME/dustmaw
(usually
.IR ~/.local/share/dustmaw )
when not set.
.TP
.B XDG_CONFIG_HOME
where the autostart entry is (default
.IR ~/.config ).
[SEE ALSO]
.BR dustmaw (1)
ROFF
} >"$include"
help2man --no-info --no-discard-stderr --section=1 \
  --name='the rules of the Dustmaw desktop trash can, without a desktop' \
  --include="$include" --output="$out" "$cli"
