#!/bin/sh
# Runs a program with an option for help2man and passes its output on in the
# shape help2man reads: "usage:" and the aligned lines of further forms below
# it become "Usage:" and "  or: ", its synopsis, and a paragraph that starts
# "Exit status:" becomes the manual's EXIT STATUS section ("*Exit status*" is
# help2man's mark for a section of its own).
#   help-for-manual.sh PROGRAM OPTION
"$1" "$2" | sed -e 's/^usage:/Usage:/' \
                -e 's/^       \(tarnwick[-a-z]* \)/  or: \1/' \
                -e 's/^Exit status: *\(.*\)$/*Exit status*\n\1/'
