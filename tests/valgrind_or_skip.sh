#!/bin/sh
# Runs a test program under valgrind's memcheck: VALGRIND PROGRAM [ARGUMENTS...]. Some CPUs have
# instructions valgrind cannot run, and libraries loaded with FFmpeg probe them as they load; then
# no memory check is possible on this machine and the test is skipped (status 77) rather than
# failed.
valgrind=$1
shift
probe=$("$valgrind" --quiet "$1" --gtest_list_tests 2>&1 >/dev/null)
status=$?
if [ $status -ne 0 ] && printf '%s' "$probe" | grep -q 'Illegal opcode\|unhandled instruction'; then
    echo "valgrind cannot run this program's libraries on this CPU: memory check skipped"
    printf '%s\n' "$probe" | head -3
    exit 77
fi
exec "$valgrind" --error-exitcode=99 --quiet "$@"
