#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package of dssview from the release preset and checks it.
#
#   scripts/package.sh [--lintian]
#
# Steps: configure and build the `release` preset, run `cpack -G DEB` in
# build/release, show the package's control data (`dpkg-deb --info`), check
# that its contents hold the program and the manual page (`dpkg-deb
# --contents`), and run lintian on it when lintian is installed; errors from
# lintian fail the script. With --lintian, lintian is installed from Debian's
# packages when missing, so the check always runs.
#
# Needs dpkg-dev (dpkg-shlibdeps works out the package's dependencies); it is
# installed when missing, with sudo when not run as root.
# Prints the path of the .deb as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

want_lintian=0
for arg in "$@"; do
  case $arg in
    --lintian) want_lintian=1 ;;
    *) echo "usage: $0 [--lintian]" >&2; exit 2 ;;
  esac
done

need=()
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v dpkg-deb >/dev/null || need+=(dpkg)
if [ "$want_lintian" = 1 ]; then
  command -v lintian >/dev/null || need+=(lintian)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi

echo "=== build: release preset"
cmake --preset release
cmake --build --preset release

echo "=== cpack -G DEB"
build=build/release
rm -f "$build"/dssview_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/dssview_*.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: cpack made no dssview_*.deb" >&2; exit 1; }
deb=${debs[0]}

echo "=== dpkg-deb --info $deb"
dpkg-deb --info "$deb"
for field in Package Version Maintainer Section Depends Description; do
  # Read whole before testing: with pipefail, `grep -q` closing the pipe
  # early would fail a long field by SIGPIPE.
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] ||
    { echo "FAIL: control field $field is empty" >&2; exit 1; }
done
[ "$(dpkg-deb --field "$deb" Package)" = dssview ] ||
  { echo "FAIL: package name is not dssview" >&2; exit 1; }

echo "=== dpkg-deb --contents $deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
for path in ./usr/bin/dssview ./usr/share/man/man1/dssview.1.gz \
            ./usr/share/doc/dssview/copyright ./usr/share/doc/dssview/changelog.gz; do
  awk '{print $6}' <<<"$contents" | grep -xF "$path" >/dev/null ||
    { echo "FAIL: $path is not in the package" >&2; exit 1; }
done

if command -v lintian >/dev/null; then
  echo "=== lintian $deb"
  # Exit status is non-zero when lintian finds an error.
  lintian --display-info "$deb"
else
  echo "=== lintian is not installed: skipped (run with --lintian to install it)"
fi

echo "=== package ok"
echo "$deb"
