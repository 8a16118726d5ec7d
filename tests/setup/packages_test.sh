#!/usr/bin/env bash
# The package step of ./test against stand-ins for dpkg-query, dpkg,
# apt-get and id that log every call: nothing missing makes no apt call;
# a failed index still installs the 64-bit packages; wine32:i386 failing
# only names why the 32-bit runs cannot be made; under CI=true a 64-bit
# package that cannot be installed fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pellar-setup.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

mkdir "$work/bin"
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
# STUB_INSTALLED: the installed packages; STUB_FAIL: "update", "i386" or
# "amd64", the apt steps that fail.
stub dpkg-query 'for p in $STUB_INSTALLED; do [ "$p" = "$3" ] && { printf "install ok installed"; exit 0; }; done; exit 1'
stub dpkg 'echo i386'
stub id 'echo 0'
stub apt-get 'echo "apt-get $*" >>"$STUB_LOG"
case "$* $STUB_FAIL" in
  *update*update*) echo "E: Failed to fetch i386/Packages  File has unexpected size (1 != 2). Mirror sync in progress?"; exit 100 ;;
  *:i386*i386*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  *install*amd64*) case "$*" in *:i386*) exit 0 ;; esac; echo "E: Unable to locate package lftp"; exit 100 ;;
esac; exit 0'

# run INSTALLED FAIL CI: the step for lftp and wine32:i386, under the shell
# options of ./test; its output in
# $work/out, the apt calls in $work/apt.log.
run() {
  : >"$work/apt.log"
  env PATH="$work/bin:$PATH" STUB_INSTALLED="$1" STUB_FAIL="$2" CI="$3" \
    STUB_LOG="$work/apt.log" bash -c \
    'set -euo pipefail; source "$0"; install_packages lftp wine32:i386; echo "reason=$win32_reason"' \
    "$here/packages.sh" >"$work/out" 2>&1
}

run "lftp wine32:i386" "" true || fail "all present: $(cat "$work/out")"
grep -qx 'packages: nothing to install' "$work/out" || fail "no 'nothing to install'"
[ ! -s "$work/apt.log" ] || fail "apt called with nothing missing: $(cat "$work/apt.log")"

run "" "update i386" true || fail "a failed index failed the step: $(cat "$work/out")"
grep -q 'install .*lftp' "$work/apt.log" || fail "lftp not installed after a failed index"
grep -q 'Acquire::Retries=5' "$work/apt.log" || fail "no retries"
grep -qx 'reason=wine32:i386 could not be installed: Unable to correct problems, you have held broken packages. (after a package index failed: Failed to fetch i386/Packages  File has unexpected size (1 != 2). Mirror sync in progress?)' \
  "$work/out" || fail "wine32 reason: $(cat "$work/out")"
grep -q '^packages: 32-bit runs: not run (wine32:i386 could not be installed' "$work/out" ||
  fail "the 32-bit runs not named"

run "wine32:i386" "amd64" true && fail "CI=true passed without lftp"
run "wine32:i386" "amd64" false || fail "without CI a missing lftp failed the step"
echo "setup: package step ok"
