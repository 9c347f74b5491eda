#!/bin/sh
# Runs a test program under valgrind (the command line given). Where valgrind cannot run the
# program at all - it stops on an instruction this CPU lacks while the shared libraries start up,
# before any test code runs - the test is skipped (exit 77) with the reason; any other result is
# the run's own.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" 2>"$log"
status=$?
cat "$log" >&2
if [ "$status" -ne 0 ] && grep -q "Illegal opcode" "$log" && grep -q "_dl_init" "$log"; then
  echo "skipped: valgrind cannot run this program on this CPU (an illegal instruction in a library's start-up)" >&2
  exit 77
fi
exit "$status"
