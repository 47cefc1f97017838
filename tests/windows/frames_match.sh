#!/usr/bin/env bash
# verdanox-frames.exe under wine prints the same bytes as the native tool.
set -u
exe=$1 native=$2 config=$3
[ -x "$native" ] || { echo "native verdanox-frames not built at $native: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$config" "$dir/VDXconfig.txt"
cd "$dir"
win=$(wine "$exe" --ticks 12 </dev/null | tr -d '\r')
nat=$("$native" --ticks 12)
fail=0
[ "$win" = "$nat" ] || { echo "FAIL: frames differ"; diff <(echo "$win") <(echo "$nat") | head; fail=1; }
[ "$(echo "$win" | wc -l)" = 24 ] || { echo "FAIL: not 24 frames"; fail=1; }
wine "$exe" --bogus </dev/null >/dev/null 2>&1
[ $? = 2 ] || { echo "FAIL: bad option does not exit 2"; fail=1; }
[ $fail = 0 ] && echo "verdanox-frames.exe matches the native tool byte for byte"
exit $fail
