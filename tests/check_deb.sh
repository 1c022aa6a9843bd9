#!/usr/bin/env bash
# Builds the Debian package (the deb workflow), has lintian check it (any
# error or warning fails), installs it with dpkg -i, runs bmp2grid and
# man -w from the installed system, checks that the programs load the
# system's libpng and zlib (and bmp2grid expat), removes it with dpkg -r and checks that no file
# it installed is left behind.
#
# Needs root (dpkg), dpkg-dev (dpkg-shlibdeps, for the package's
# dependencies), lintian and man-db. Refuses to run where bmp2grid is
# installed already, so that it never removes a package it did not install.
set -euo pipefail
cd "$(dirname "$0")/.."

if dpkg -s bmp2grid >/dev/null 2>&1; then
  echo "FAILED: a bmp2grid package is installed already; remove it first (dpkg -r bmp2grid)"
  exit 1
fi

if ! command -v lintian >/dev/null; then
  echo "FAILED: lintian is not installed (Debian: lintian)"
  exit 1
fi

cmake --workflow --preset deb
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/deb/CMakeCache.txt)
revision=$(sed -n 's/^BMP2GRID_DEBIAN_REVISION:STRING=//p' build/deb/CMakeCache.txt)
deb=build/deb/packages/bmp2grid_${version}-${revision}_$(dpkg --print-architecture).deb
echo "== $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb --field "$deb" Package Version Architecture Section Maintainer Depends
# The libraries' security updates reach the package's users only through
# its dependencies.
depends=$(dpkg-deb --field "$deb" Depends)
for package in libpng16-16 libexpat1; do
  if [[ "$depends" != *$package* ]]; then
    echo "FAILED: the package does not depend on the system's $package"
    exit 1
  fi
done

echo "== lintian (errors and warnings fail; informational, pedantic and experimental notes are shown)"
# Tags the package overrides, each with its reason, are in
# cmake/deb/lintian-overrides.
lintian --display-info --display-experimental --pedantic --fail-on error,warning "$deb"

work=$(mktemp -d)
installed=no
cleanup() {
  if [ "$installed" = yes ]; then dpkg -r bmp2grid >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== dpkg -i"
dpkg -i "$deb"
installed=yes
dpkg -L bmp2grid > "$work/files"

echo "== the installed programs and manual pages"
[ "$(command -v bmp2grid)" = /usr/bin/bmp2grid ] || { echo "FAILED: bmp2grid is not /usr/bin/bmp2grid"; exit 1; }
[ "$(bmp2grid --version)" = "bmp2grid $version" ] || { echo "FAILED: bmp2grid --version"; exit 1; }
[ "$(grid2bmp --version)" = "grid2bmp $version" ] || { echo "FAILED: grid2bmp --version"; exit 1; }
# The programs load the system's libpng and zlib; bmp2grid, which reads
# TMX maps, its expat too.
for program in /usr/bin/bmp2grid /usr/bin/grid2bmp; do
  ldd "$program" > "$work/libraries"
  libraries="libpng16.so.16 libz.so.1"
  [ "$program" = /usr/bin/bmp2grid ] && libraries="$libraries libexpat.so.1"
  for library in $libraries; do
    if ! grep -Eq "^[[:space:]]$library => /" "$work/libraries"; then
      echo "FAILED: $program does not load the system's $library:"
      cat "$work/libraries"
      exit 1
    fi
  done
done
doc=/usr/share/doc/bmp2grid
first=$(zcat $doc/changelog.Debian.gz | sed -n 1p)
case "$first" in
  "bmp2grid ($version-$revision) "*) ;;
  *) echo "FAILED: changelog.Debian.gz starts with \"$first\", not version $version-$revision"; exit 1 ;;
esac
zcat $doc/README.md.gz | cmp - README.md || { echo "FAILED: README.md.gz is not README.md"; exit 1; }
(cd "$work" &&
  bmp2grid $doc/sample.bmp sample.txt && cmp sample.txt $doc/sample.txt &&
  grid2bmp --palette $doc/sample.bmp $doc/sample.txt back.bmp &&
  bmp2grid - - < back.bmp 2>/dev/null | cmp - $doc/sample.txt)
if [ ! -f /usr/share/man/man1/bmp2grid.1.gz ]; then
  echo "FAILED: dpkg did not unpack the manual pages (a path-exclude in /etc/dpkg/dpkg.cfg.d?)"
  exit 1
fi
man -w bmp2grid
man -w grid2bmp

echo "== dpkg -r"
dpkg -r bmp2grid
installed=no
status=$(dpkg-query --show --showformat='${db:Status-Status}' bmp2grid 2>/dev/null || true)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
  echo "FAILED: after dpkg -r the package is still known as $status"
  exit 1
fi
# Folders shared with other packages (/usr/bin, ...) stay; nothing else may.
left=()
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
    left+=("$path")
  fi
done < "$work/files"
if [ ${#left[@]} -gt 0 ]; then
  echo "FAILED: dpkg -r left ${left[*]}"
  exit 1
fi
echo "== installed, run and removed cleanly ($(wc -l < "$work/files") paths)"
