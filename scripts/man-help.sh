#!/usr/bin/env bash
# Stands in for gapohm when help2man builds the manual page: prints the program's
# own --help in the form help2man reads (the build passes the program as
# $GAPOHM_BINARY). Only the layout changes, never a word: the two further usage
# lines become "or:" lines of the synopsis, the exit statuses a section of their
# own, and the examples are marked as commands.
set -euo pipefail
case "${1:-}" in
  --help) ;;
  *) echo "man-help.sh: only --help is answered (help2man is given the version)" >&2; exit 2 ;;
esac
help=$("${GAPOHM_BINARY:?the gapohm binary to describe}" --help)
printf '%s\n' "$help" | sed -e 's/^       \(gapohm \)/  or: \1/' \
  -e 's/^Exit status: /*Exit status*\n/' \
  -e '/^Examples:$/,$ s/^  \(gapohm \)/  $ \1/'
