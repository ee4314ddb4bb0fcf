#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs a built tree into a scratch prefix with `cmake --install` and checks
# what a user gets there.
#
#   install_check.sh program CMAKE BUILD_DIR SOURCE_DIR VERSION
#       the installed binary answers -V and lists a real trace with status 0
#   install_check.sh manpage CMAKE BUILD_DIR SOURCE_DIR VERSION
#       the installed manual page formats with man, without warnings
#       (exit 77, reported as skipped, when man is not installed)
set -euo pipefail

mode=$1 cmake=$2 build=$3 src=$4 version=$5

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$mode" = manpage ] && ! command -v man >/dev/null; then
  echo "man is not installed: manual page check skipped"
  exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log" >&2; fail "cmake --install $build --prefix $prefix"; }

bin=$prefix/bin/dssview
page=
for p in "$prefix/share/man/man1/dssview.1.gz" "$prefix/share/man/man1/dssview.1"; do
  [ -f "$p" ] && page=$p && break
done
[ -x "$bin" ] || fail "no executable at $bin"
[ -n "$page" ] || fail "no manual page under $prefix/share/man/man1"

case $mode in
program)
  out=$("$bin" -V) || fail "dssview -V exited with $?"
  [ "$out" = "dssview $version" ] || fail "dssview -V printed '$out', expected 'dssview $version'"

  trace=$src/examples/s01_connect.req.drdadbg
  for opt in "" -f; do
    rc=0
    "$bin" $opt "$trace" >"$tmp/out" 2>"$tmp/err" || rc=$?
    [ "$rc" -eq 0 ] || fail "dssview $opt $trace exited with $rc: $(cat "$tmp/err")"
    [ ! -s "$tmp/err" ] || fail "dssview $opt wrote to stderr: $(cat "$tmp/err")"
    [ "$(head -n 1 "$tmp/out")" = "DRDADBG Version 1" ] || fail "dssview $opt: unexpected first line"
    records=$(grep -c $'^\tbytes ' "$tmp/out" || true)
    [ "$records" -eq 28 ] || fail "dssview $opt listed $records records, expected 28"
  done

  # A usage error from the installed binary: status 1, usage on stderr.
  rc=0
  "$bin" >"$tmp/out" 2>"$tmp/err" || rc=$?
  [ "$rc" -eq 1 ] || fail "dssview without arguments exited with $rc, expected 1"
  grep -q '^Usage: dssview \[-f\] \[-o outfile\] inpfile$' "$tmp/err" || fail "no usage line"
  ;;
manpage)
  rc=0
  MANWIDTH=80 man --warnings -l "$page" >"$tmp/out" 2>"$tmp/err" || rc=$?
  [ "$rc" -eq 0 ] || fail "man -l $page exited with $rc: $(cat "$tmp/err")"
  [ ! -s "$tmp/err" ] || fail "man -l $page warned: $(cat "$tmp/err")"
  for want in 'dssview - format a DRDA communications trace' SYNOPSIS OPTIONS \
              'FILE FORMAT' 'EXIT STATUS' DIAGNOSTICS 'ERROR: Invalid file format: bad type'; do
    grep -qF -- "$want" "$tmp/out" || fail "formatted page lacks '$want'"
  done
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
echo "ok: $mode installed under $prefix"
