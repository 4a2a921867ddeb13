# Sourced by the report's browser tests, with the test's name and the program:
# sets gapohm (its absolute path), here (the tests folder) and work (a folder
# removed on exit); exits 77 (skipped) when Chromium, Node.js or Python is missing.
# Usage: . tests/browser/setup.sh NAME GAPOHM_BINARY
gapohm=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for tool in "${CHROMIUM:-/usr/bin/chromium}" node python3; do
  command -v "$tool" > /dev/null || { echo "$1: $tool not installed: skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
