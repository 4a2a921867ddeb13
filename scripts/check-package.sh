#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get (which pulls its runtime
# libraries), runs the installed gapohm on the installed argon example scan,
# checks its manual page renders, and removes the package. Needs root (or sudo).
# Any failure fails the script; the package is removed whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
fail() { echo "check-package: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' gapohm 2>/dev/null | grep -q "install ok installed"; then
  fail "a gapohm package is installed already; remove it first (apt-get remove gapohm)"
fi
export BUILD=${BUILD:-build-pkg}
scripts/package.sh
debs=("$BUILD"/package/gapohm_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single package in $BUILD/package"
deb=${debs[0]}
depends=$(dpkg-deb --field "$deb" Depends)
echo "check-package: Depends: $depends"
for library in libgsl libplplot libcairo2 libpng16 libisal plplot-driver-cairo; do
  [[ "$depends" == *"$library"* ]] || fail "Depends does not name $library"
done

work=$(mktemp -d)
remove_package() {
  local status=$?
  if dpkg-query -W -f='${Status}' gapohm 2>/dev/null | grep -q "install ok installed"; then
    $SUDO apt-get remove -y -q gapohm || status=1
  fi
  rm -rf "$work"
  exit "$status"
}
trap remove_package EXIT

cp "$deb" "$work/"
chmod 755 "$work"; chmod 644 "$work"/*.deb   # readable by apt's unprivileged user
export DEBIAN_FRONTEND=noninteractive
(cd "$work" && $SUDO apt-get install -y -q ./gapohm_*.deb)

# The installed files, and the program run as a user would find it.
for file in /usr/bin/gapohm /usr/share/man/man1/gapohm.1 /usr/share/doc/gapohm/README.md \
            /usr/share/doc/gapohm/examples/argon_scan.csv; do
  [ -f "$file" ] || fail "$file was not installed (a dpkg path-exclude for it in /etc/dpkg/dpkg.cfg.d?)"
done
[ "$(command -v gapohm)" = /usr/bin/gapohm ] || fail "gapohm on PATH is $(command -v gapohm), not /usr/bin/gapohm"
gapohm --version
out="$work/argon"
(cd "$work" && gapohm -q -o "$out" /usr/share/doc/gapohm/examples/argon_scan.csv "Argon scan") \
  || fail "the installed gapohm failed on the installed example scan"
for output in ALLcurrents.png Resistance.csv results.csv results.tex; do
  [ -s "$out/$output" ] || fail "the example run wrote no $output"
done
fitted=$(grep -c ',fitted,' "$out/results.csv" || true)
[ "$fitted" -eq 6 ] || fail "the example run fitted $fitted gaps of 6"
echo "check-package: the installed gapohm fitted the example's 6 gaps"

# The page through man's own search and as a file.
page=$(MANPAGER=cat MANWIDTH=100 man gapohm 2>&1) || fail "man gapohm failed: $page"
[[ "$page" == *"--batch"* && "$page" == *"EXIT STATUS"* ]] || fail "man gapohm shows an incomplete page"
MANPAGER=cat man -l /usr/share/man/man1/gapohm.1 >/dev/null || fail "man -l of the installed page failed"
echo "check-package: man gapohm renders"

$SUDO apt-get remove -y -q gapohm
[ ! -e /usr/bin/gapohm ] || fail "/usr/bin/gapohm is left after removing the package"
echo "check-package: installed, ran, removed"
