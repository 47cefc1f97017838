#!/usr/bin/env bash
# verdanox-frames.exe under wine prints the same bytes as the native tool:
# the configuration's frames, a rig's (TOML reader, mode 5, live readings,
# faults, JSON) and an I/Q capture on standard output (binary, not text).
set -u
exe=$1 native=$2 config=$3
[ -x "$native" ] || { echo "native verdanox-frames not built at $native: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$config" "$dir/VDXconfig.txt"
rig=$(cd "$(dirname "$config")" && pwd)/examples/rigs/month-end.toml
cp "$rig" "$dir/rig.toml"
cd "$dir"
win=$(wine "$exe" --ticks 12 </dev/null | tr -d '\r')
nat=$("$native" --ticks 12)
fail=0
[ "$win" = "$nat" ] || { echo "FAIL: frames differ"; diff <(echo "$win") <(echo "$nat") | head; fail=1; }
[ "$(echo "$win" | wc -l)" = 24 ] || { echo "FAIL: not 24 frames"; fail=1; }
args="--rig rig.toml --ticks 6 --json --fault fuzz:every=2"
[ "$(wine "$exe" $args </dev/null 2>/dev/null | tr -d '\r' | md5sum)" = "$("$native" $args | md5sum)" ] \
  || { echo "FAIL: $args differs"; fail=1; }
for args in "--ticks 3 --format iq --output - --mode c1 --snr 12" \
  "--ticks 2 --format iq --output - --mode n --sample-rate 100000 --iq-format cf32 --snr 12"; do  # binary: byte for byte
  [ "$(wine "$exe" $args </dev/null 2>/dev/null | md5sum)" = "$("$native" $args | md5sum)" ] \
    || { echo "FAIL: $args differs"; fail=1; }
done
wine "$exe" --bogus </dev/null >/dev/null 2>&1
[ $? = 2 ] || { echo "FAIL: bad option does not exit 2"; fail=1; }
[ $fail = 0 ] && echo "verdanox-frames.exe matches the native tool byte for byte"
exit $fail
