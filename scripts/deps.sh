#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. As root it runs
# apt-get; otherwise it prints the exact command and stops.
set -euo pipefail
# groff-base checks the manual pages; dpkg-dev and file let CPack build the
# Debian package (dpkg-shlibdeps finds its dependencies). libxlsxwriter and
# libcsv write workbooks and read CSV; python3-openpyxl reads the workbooks
# back in the tests. libpq talks to a PostgreSQL server; postgresql runs the
# private cluster the server engine's tests start.
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 nlohmann-json3-dev libcairo2-dev zlib1g-dev
  fonts-dejavu-core tmux poppler-utils clang libclang-rt-14-dev
  cups-daemon cups-client cups-filters-core-drivers qpdf
  groff-base dpkg-dev file postgresql libpq-dev
  libxlsxwriter-dev libcsv-dev python3-openpyxl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
command="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:"
  echo "  $command"
  exit 1
fi
echo "Installing: ${missing[*]}"
apt-get update -q >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
