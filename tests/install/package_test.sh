#!/usr/bin/env bash
# The Debian package: cpack -G DEB builds it from the install rules; it holds
# the programs, the print program's link, the templates and the manual
# pages, declares its runtime dependencies, and its programs work from
# where the package puts them (unpacked into a scratch folder).
# Arguments: build directory, source directory.
set -u
build_dir=$(cd "${1:?build directory}" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 0
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" \
    >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
package=$(ls "$work"/tarnevos_*.deb 2>/dev/null | head -1)
[[ -n $package ]] || { echo "FAIL: no package was made"; exit 1; }

contents=$(dpkg -c "$package")
for file in ./usr/bin/tarnevos ./usr/bin/kelprint ./usr/bin/keldades \
    ./usr/libexec/tarnevos/KELPRINT ./usr/share/tarnevos/Orvo.ini \
    ./usr/share/tarnevos/FORMS/TARNEVOS.KPN ./usr/share/tarnevos/LOCALE/TARNEVOS.LNG \
    ./usr/share/tarnevos/AJUDA/TARNEVOS.HLP ./usr/share/tarnevos/ddf/PropietH.xdf \
    ./usr/share/man/man1/tarnevos.1.gz ./usr/share/man/man1/kelprint.1.gz \
    ./usr/share/man/man1/keldades.1.gz ./usr/share/man/man5/tarnevos.5.gz; do
  grep -qF " $file" <<<"$contents" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$package" Depends)
for library in libc6 libcairo2 libsqlite3-0 libstdc++6; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ $(dpkg-deb -f "$package" Recommends) == *fonts-dejavu-core* ]] ||
  fail "the font is not recommended"

# Unpacked: keldades finds the templates beside its folder.
dpkg-deb -x "$package" "$work/root"
"$work/root/usr/bin/keldades" new "$work/installation" >"$work/new.log" 2>&1 ||
  fail "the packaged keldades new: $(cat "$work/new.log")"
grep -qF "from the templates in $work/root/usr/share/tarnevos/" "$work/new.log" ||
  fail "the packaged templates were not used: $(cat "$work/new.log")"
[[ -s "$work/installation/FORMS/TARNEVOS.KPN" ]] ||
  fail "no form file in the new installation"

if ((failures > 0)); then
  echo "package: $failures check(s) failed"
  exit 1
fi
echo "package: all checks passed ($(basename "$package"))"
