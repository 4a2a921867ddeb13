#!/usr/bin/env bash
# Installs every Debian package gapohm needs to build, test and run.
# One list for README, CI and developers: add a package here and nowhere else.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  help2man                            # the manual page, made from --help at build time
  file man-db                         # the Debian package: cpack's dependency search, man in CI
  libgsl-dev                          # line and constant fits, histograms
  libplplot-dev plplot-driver-cairo   # figures (memcairo, svgcairo, pdfcairo devices)
  libpng-dev                          # fast PNG encoding of painted figures
  libcairo2-dev                       # figure pixels painted in place (extcairo device)
  libpango1.0-dev                     # figure text on PNG pages laid out as the cairo device lays it
  libisal-dev                         # fast deflate of PNG figures
  fonts-dejavu-core                   # sans font for figure text
  libcli11-dev                        # command line
  libgtest-dev libgmock-dev           # tests
  libbenchmark-dev time               # benchmarks (Google Benchmark, /usr/bin/time for whole runs)
  clang clang-tidy libclang-rt-14-dev # sanitizers, fuzzer, static checks
  texlive-latex-base                  # results.tex compiled by pdflatex in the tests
  poppler-utils                       # pdftotext: what the compiled results.tex shows (tests)
  chromium nodejs python3             # the report page opened in a headless browser (tests)
  python3-pandas                      # verdicts.csv read as its users read it (tests)
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
