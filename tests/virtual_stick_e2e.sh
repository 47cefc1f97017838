#!/usr/bin/env bash
# End to end: the driver finds, opens and writes through the virtual stick's
# real sysfs and tty path; the monitor checks every telegram with OpenSSL.
set -u
stick=$1 driver=$2 config=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$config" "$dir/VDXconfig.txt"
cd "$dir"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2], want [$3]"; fail=1; fi; }

timeout 60 "$stick" --frames frames.txt --reply mixed -- "$driver" 4 > out.txt 2>&1
check "exit status" $? 0
cat out.txt
check "stick found" "$(grep -c 'driver: stick VX00010042, Virtual RF stick (Verdanox), /dev/ttyACM0' out.txt)" 1
check "mode-7 telegrams with MAC ok" "$(grep -c 'mode 7, counter 0, MAC ok, 2022-04-09 10:00:16, V 0.126 m3' out.txt)" 4
check "meters in turn" "$(grep -o 'VDX 1234567[0-9]' out.txt | tr '\n' ' ')" "VDX 12345670 VDX 12345671 VDX 12345672 VDX 12345673 "
check "raw frames" "$(awk '{print length($0)/2}' frames.txt | tr '\n' ' ')" "11 118 11 118 11 118 11 118 "
check "raw frames equal verdanox-frames" "$(md5sum < frames.txt)" "$("$(dirname "$driver")/../tools/verdanox-frames" --ticks 4 | md5sum)"

timeout 60 "$stick" -- "$driver" 2 --plain > plain.txt 2>&1
check "plain telegrams" "$(grep -c ', plain, 2022-04-09 10:00:16, V 0.126 m3' plain.txt)" 2

timeout 60 "$stick" --unplug-after 1 -- "$driver" 3 > unplug.txt 2>&1
check "unplugged: writes fail, driver reports it" $? 5
grep -q "stick pulled out" unplug.txt || { echo "FAIL: no unplug"; fail=1; }

[ $fail -eq 0 ] && echo "virtual stick end to end: all checks passed"
exit $fail
