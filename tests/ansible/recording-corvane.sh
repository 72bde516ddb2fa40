#!/bin/sh
# Stands in for Corvane: records its own command line and every process's, as ps shows them
# while it runs, then runs the program with the same arguments and standard input.
# CORVANE_REAL: the program; CORVANE_RECORD: the file the records are added to.
{
  printf 'corvane %s\n' "$*"
  ps -eo args
} >>"$CORVANE_RECORD"
exec "$CORVANE_REAL" "$@"
