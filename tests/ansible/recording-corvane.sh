#!/bin/sh
# Stands in for Corvane: records its own command line and that of every process of the playbook
# run it belongs to, as ps shows them while it runs, then runs the program with the same
# arguments and standard input. Other tests may run beside it with passwords of their own on
# their command lines; they are not this run's.
# CORVANE_REAL: the program; CORVANE_RECORD: the file the records are added to.
{
  printf 'corvane %s\n' "$*"
  ps -eo pid=,ppid=,args= | awk -v self="$$" '
    { ppid[$1] = $2; line[$1] = $0 }
    END {
      top = self
      for (p = self; (p in ppid) && p > 1; p = ppid[p]) if (line[p] ~ /ansible-playbook/) top = p
      keep[top] = 1
      for (grown = 1; grown;) {
        grown = 0
        for (q in ppid) if (!(q in keep) && (ppid[q] in keep)) { keep[q] = 1; grown = 1 }
      }
      for (q in keep) { text = line[q]; sub(/^ *[0-9]+ +[0-9]+ /, "", text); print text }
    }'
} >>"$CORVANE_RECORD"
exec "$CORVANE_REAL" "$@"
