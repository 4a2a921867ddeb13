#!/usr/bin/env bash
# The generated manual page against the program: every option --help shows must
# be on the rendered page, with the hand-written sections, and the page must
# render without a groff warning. Usage: man_page.sh GAPOHM PAGE. Exit 77 (skip)
# without man.
set -euo pipefail
binary=$1 page=$2
command -v man >/dev/null || { echo "man_page: no man program, skipped"; exit 77; }

help=$("$binary" --help)
rendered=$(MANWIDTH=200 MANPAGER=cat PAGER=cat LC_ALL=C.UTF-8 man --warnings=w -E ascii -l "$page" 2>"$page.warnings")
if [ -s "$page.warnings" ]; then
  echo "man_page: $page renders with warnings:" >&2; cat "$page.warnings" >&2; exit 1
fi

# The options as --help lists them: "  -o,--output-dir DIR" gives -o and --output-dir.
mapfile -t options < <(printf '%s\n' "$help" | grep -E '^  -' | sed -E 's/^  (-[^ ]+).*/\1/' | tr ',' '\n')
if [ "${#options[@]}" -lt 15 ]; then
  echo "man_page: only ${#options[@]} options found in --help: its layout changed?" >&2; exit 1
fi
missing=0
for option in "${options[@]}"; do
  # A whole word: --report must not be found inside --reference-temperature.
  # (grep reads a here-string: a pipe into grep -q would fail under pipefail when
  # grep stops at its first match and the writer is cut off.)
  if ! grep -qE -- "(^|[ ,])${option}([ ,=]|$)" <<<"$rendered"; then
    echo "man_page: option $option of --help is not on the page" >&2; missing=1
  fi
done
grep -qE '^ +gapohm - ' <<<"$rendered" || { echo "man_page: the page is not named gapohm" >&2; missing=1; }
for section in SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' FILES EXAMPLES; do
  grep -qx "$section" <<<"$rendered" || { echo "man_page: no $section section" >&2; missing=1; }
done
for line in 'gapohm --batch [OPTIONS] SCAN|DIR...' 'gapohm --report [OPTIONS] RESULTS|DIR...' 'results.csv'; do
  grep -qF -- "$line" <<<"$rendered" || { echo "man_page: \"$line\" is not on the page" >&2; missing=1; }
done
[ "$missing" -eq 0 ] && echo "man_page: ${#options[@]} options, all on the page"
exit "$missing"
