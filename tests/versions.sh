#!/usr/bin/env bash
# Every program prints the one version: "NAME VERSION" and exit 0.
#   versions.sh VERSION [RUNNER] -- PROGRAM...   (RUNNER: e.g. wine)
set -u
version=$1; shift
runner=()
while [ "$1" != "--" ]; do runner+=("$1"); shift; done
shift
fail=0
for program in "$@"; do
  name=$(basename "$program" .exe)
  out=$("${runner[@]}" "$program" --version </dev/null 2>&1 | tr -d '\r'); rc=$?
  [ "$rc:$out" = "0:$name $version" ] || { echo "FAIL: $program --version: [$rc:$out], want [0:$name $version]"; fail=1; }
done
[ $fail = 0 ] && echo "all $# programs print version $version"
exit $fail
