#!/bin/sh
# Compares what libbootwire exports with the list of its interface. A symbol that
# leaks (a helper, a template instance) or a new entry point not added to the list
# on purpose fails the test.
# Usage: check_exports.sh LIBRARY EXPECTED_LIST
set -eu
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
nm -D --defined-only -C "$1" | sed -E 's/^[0-9a-f]+ [A-Za-z] //' | sort -u >"$actual"
if ! diff -u "$2" "$actual"; then
  echo "libbootwire exports differ from $2 (lines with + leak, lines with - are missing)"
  exit 1
fi
