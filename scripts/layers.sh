#!/usr/bin/env bash
# Every include between the source folders points down:
#   services <- character <- battle <- ui <- dialogs <- desktop <- cli
# Prints which folders each folder includes; fails on an include that points
# up or into a folder not ranked here.
set -euo pipefail
cd "$(dirname "$0")/../src"
grep -rE '^#include "[^"/]+/' --include='*.h' --include='*.cpp' -- */ | awk '
BEGIN { n = split("services character battle ui dialogs desktop cli", order, " ")
        for (i = 1; i <= n; i++) rank[order[i]] = i }
{ from = $0; sub(/\/.*/, "", from)
  to = $0; sub(/^[^"]*"/, "", to); sub(/\/.*/, "", to)
  if (!(from in rank) || !(to in rank)) { print "not ranked: " $0; bad = 1 }
  else if (rank[to] > rank[from]) { print "points up: " $0; bad = 1 }
  if (!((from, to) in seen)) { seen[from, to] = 1; uses[from] = uses[from] " " to } }
END { for (i = 1; i <= n; i++) if (order[i] in uses) print order[i] ":" uses[order[i]]
      exit bad }'
