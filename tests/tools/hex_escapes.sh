#!/bin/sh
# A hex escape in a C++ literal takes every hex digit after it: "\x03Another"
# is the byte 0x3A followed by "nother", not 0x03 and "Another".  Such bytes
# are written "\x03" "Another".  Lists every escape of three or more digits
# in the sources below $1 and fails when there is one.
found=$(grep -rnE '\\x[0-9A-Fa-f]{3}' --include='*.cpp' --include='*.h' --exclude-dir='build*' "$1") || exit 0
printf '%s\n' "$found"
exit 1
