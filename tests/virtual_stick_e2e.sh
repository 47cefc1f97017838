#!/usr/bin/env bash
# verdanox-send on the virtual stick, end to end through the real sysfs and
# tty path: the frames on the wire, the monitor's independent MAC check, the
# exit statuses, the port opened and closed once, signals, JSON output.
#   virtual_stick_e2e.sh STICK SEND FRAMES CONFIG
set -u
stick=$1 send=$2 frames=$3 config=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$config" "$dir/VDXconfig.txt"
cd "$dir"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2], want [$3]"; fail=1; else echo "ok     $1"; fi; }
opens() { echo "$(grep -c 'port opened by the program' "$1") $(grep -c 'port closed by the program' "$1")"; }

timeout 60 "$stick" --frames frames.txt --reply mixed -- "$send" --ticks 12 --interval 0.2 > out.txt 2>&1
check "12 telegrams: exit status" $? 0
check "the frames on the wire are verdanox-frames' frames" "$(md5sum < frames.txt)" "$("$frames" --ticks 12 | md5sum)"
check "every telegram's MAC verifies" "$(grep -c ', mode 7, counter [01], MAC ok, .*, date-time 2022-04-09 10:00:16, volume 0.126 m3, ' out.txt)" 12
check "one line per telegram" "$(grep -c '^20[0-9-]*T[0-9:.]*Z meter [0-9]: VDX 1234567[0-9] v01 t03, access [01], mode 7, counter [01], sent$' out.txt)" 12
check "the summary" "$(grep -c '^verdanox-send: 12 telegrams sent, 0 not sent$' out.txt)" 1
check "discovery's test-open, then the link opened and closed once" "$(opens out.txt)" "2 2"

timeout 60 "$stick" -- "$send" --ticks 3 --interval 0.1 --plain > plain.txt 2>&1
check "--plain" "$(grep -c ', plain, date-time 2022-04-09 10:00:00 (storage 1), volume 0.126 m3 (storage 1), ' plain.txt)" 3

timeout 60 "$stick" -- "$send" --ticks 4 --interval 0.1 --json > json.txt 2>&1
python3 - "$frames" <<'PY'
import json, subprocess, sys
lines = [json.loads(l) for l in open("json.txt") if l.startswith("{")]
want = subprocess.run([sys.argv[1], "--ticks", "4"], capture_output=True, text=True).stdout.split()
got = [f for l in lines for f in l["frames"]]
ok = len(lines) == 4 and got == want and all(l["written"] and l["mode"] == "mode 7" for l in lines)
ok = ok and [(l["meter"], l["id"], l["manufacturer"], l["version"], l["type"], l["access"], l["counter"]) for l in lines] \
    == [(m, "1234567%d" % m, "VDX", 1, 3, 0, 0) for m in range(4)]
print(("ok     " if ok else "FAIL: ") + "--json lines parse and carry the frames" + ("" if ok else ": %s" % lines))
sys.exit(0 if ok else 1)
PY
[ $? = 0 ] || fail=1

# the virtual stick passes SIGTERM on to the program it runs
"$stick" -- "$send" --interval 0.2 > term.txt 2>&1 &
pid=$!
sleep 2
kill -TERM "$pid"
wait "$pid"
check "SIGTERM: ends with status 0" $? 0
check "SIGTERM: a summary, the link closed" "$(grep -c '^verdanox-send: stopped: [0-9]* telegrams sent, 0 not sent$' term.txt) $(opens term.txt)" "1 2 2"

timeout 60 "$stick" --unplug-after 3 -- "$send" --ticks 5 --interval 0.2 > unplug.txt 2>&1
check "pulled out after 3: exit status 3" $? 3
check "pulled out: told once, counted" \
  "$(grep -c '^verdanox-send: USB RF stick not responding: telegrams are not being sent$' unplug.txt) $(grep -c '^verdanox-send: 3 telegrams sent, 2 not sent$' unplug.txt)" "1 1"

# keys from a path that cannot be read: told, status 1, as the other tools do
for bad in "--rig /tmp:Is a directory" "--config /tmp:Is a directory" "--config /dev/zero:not a regular file"; do
  option=${bad%%:*}
  timeout 60 "$stick" $option -- true > unreadable.txt 2>&1
  check "$option" "$?: $(cat unreadable.txt)" "1: verdanox-virtual-stick: cannot read ${option#* }: ${bad#*:}"
done

timeout 60 "$stick" --serial AB00000001 -- "$send" --ticks 1 > none.txt 2>&1
check "no stick: exit status 1" $? 1
check "no stick: the reason" "$(grep -c '^verdanox-send: USB RF stick not found: looked for' none.txt)" 1

timeout 60 "$stick" -- "$send" --ticks 1 --stick=VX00010042 > chosen.txt 2>&1
check "--stick: the chosen stick" "$?: $(grep -c 'meter 0: .* sent$' chosen.txt)" "0: 1"
timeout 60 "$stick" -- "$send" --ticks 1 --stick VX99 > other.txt 2>&1
check "--stick: another stick is not taken" "$?: $(grep -c 'only VX99$' other.txt) $(grep -c 'VX00010042\]: not the chosen stick' other.txt)" "1: 1 1"

# two sticks, two senders side by side, each on the stick it chose; the
# monitor checks the rig's mode 5 and mode 7 telegrams with the rig's keys
rig=$(cd "$(dirname "$config")" && pwd)/examples/rigs/month-end.toml
timeout 60 "$stick" --rig "$rig" --serial VX00010042 --serial VX00010043 -- sh -c \
  "'$send' --rig '$rig' --stick VX00010043 --ticks 4 --interval 0.2 & '$send' --rig '$rig' --stick /dev/ttyACM0 --ticks 3 --interval 0.2; wait" > two.txt 2>&1
check "two sticks: each sender on its own" "$(grep -c '^[0-9:.]* stick VX00010043: VDX' two.txt) $(grep -c '^[0-9:.]* VDX' two.txt)" "4 3"
check "rig keys: mode 5 decrypted, mode 7 MAC ok" "$(grep -c 'mode 5, 2F 2F ok, .*, date-time 2026-01-31 23:5' two.txt) $(grep -c 'mode 7, counter [01], MAC ok, .*, date-time 2026-01-31 23:5' two.txt)" "3 4"

# one meter of each profile through the stick: every telegram checked and
# its records decoded by the monitor
all=$(cd "$(dirname "$config")" && pwd)/examples/rigs/all-profiles.toml
timeout 60 "$stick" --rig "$all" -- "$send" --rig "$all" --ticks 7 --interval 0.1 > profiles.txt 2>&1
check "every profile: exit status and verdicts" "$?: $(grep -c 'verdicts: 7 ok$' profiles.txt)" "0: 1"
check "every profile: header forms and modes" \
  "$(grep '^[0-9:.]* VDX' profiles.txt | grep -o 'v01 t0[0-9]\(, access [0-9]*\)*\(, short header\|, no header\)*, \(plain\|mode 5\|mode 7\)' | sed 's/, access [0-9]*//' | tr '\n' ';')" \
  "v01 t03, mode 7;v01 t03, short header, mode 5;v01 t07, short header, plain;v01 t06, no header, plain;v01 t04, mode 7;v01 t08, short header, mode 7;v01 t02, short header, mode 5;"
check "every profile: records decoded" "$(grep -c 'energy 4567.8[0-9]* kWh\|hca 321 units\|volume-flow 0.120 m3/h' profiles.txt)" 3

# every fault kind a stick can send, on one mode 7 meter; the monitor tells
# each from the bytes alone, the summary counts them as sent
printf '[[meter]]\naddress = "9858705634120103"\nkey = "000102030405060708090A0B0C0D0E0F"\n' > one.toml
timeout 60 "$stick" --rig one.toml -- "$send" --rig one.toml --ticks 9 --interval 0.1 --fault bad-mac:at=2 \
  --fault wrong-key:at=3 --fault replay:at=4 --fault counter-rewind:at=6 --fault truncated:at=7 \
  --fault bad-records:at=8 --fault fuzz:at=9:seed=7 > faults.txt 2>&1
check "faults: exit status and summary" "$?: $(grep -c '^verdanox-send: 9 telegrams sent, 0 not sent; faults sent: bad-mac 1, wrong-key 1, replay 1, counter-rewind 1, truncated 1, bad-records 1, fuzz 1$' faults.txt)" "0: 1"
check "monitor: MAC FAILED (one bit)" "$(grep -c 'counter 1, MAC FAILED (got B17F9B0C43E4354F, expected B07F9B0C43E4354F)$' faults.txt)" 1
check "monitor: wrong key" "$(grep -c 'MAC FAILED (got [0-9A-F]*, expected [0-9A-F]*), no 2F 2F after decryption (wrong key?)$' faults.txt)" 1
for verdict in "no 2F 2F after decryption (wrong key?), replay of access 2" \
    "counter went back from 3 to 2" "truncated: 102 of 118 bytes" "malformed records at offset 57"; do
  check "monitor: $verdict" "$(grep -cF "$verdict" faults.txt)" 1
done
check "monitor: the counts" "$(grep -o 'verdicts: 3 ok, 1 MAC FAILED, 1 wrong key, 1 replay, 1 counter went back, 1 truncated, 1 malformed records' faults.txt | wc -l)" 1
"$send" --fault bad-crc --ticks 1 > badcrc.txt 2>&1
check "bad-crc on a stick is refused" "$?: $(cat badcrc.txt)" \
  "2: verdanox-send: --fault bad-crc: bad-crc needs verdanox-frames --format radio-crc or iq (a stick computes the CRCs itself)"
"$send" --fault bad-sync --ticks 1 > badcrc.txt 2>&1
check "bad-sync on a stick is refused" "$?: $(cat badcrc.txt)" \
  "2: verdanox-send: --fault bad-sync: bad-sync needs an I/Q capture (verdanox-frames --format iq): it is a fault of the air interface"
printf '[[meter]]\naddress = "9858705634120103"\nradio = "s1"\n' > radio.toml
"$send" --rig radio.toml --ticks 1 > radio.txt 2>&1
check "a rig's radio mode: said once that the stick does not take it" "$(grep -c 'radio' radio.txt) $(head -1 radio.txt)" \
  "1 verdanox-send: meter 0 (9858705634120103) names a radio mode, which the stick does not take: it sends in its own mode (the radio mode takes effect in I/Q captures, verdanox-frames --format iq)"

# the sharper kinds on the same meter; compact frames and the ELL's AES-CTR
# on a second and third (compact-unknown, ell-bad-crc); each told apart
printf '[[meter]]\naddress = "9858915634120107"\nprofile = "water"\nkey = "000102030405060708090A0B0C0D0E0F"\ncompact = { after = 1 }\n[[meter]]\naddress = "9858935634120107"\nprofile = "water"\nkey = "202122232425262728292A2B2C2D2E2F"\nsecurity = "ell-ctr"\n' > more.toml
timeout 60 "$stick" --rig one.toml -- "$send" --rig one.toml --ticks 6 --interval 0.1 --fault no-2f2f:at=2 \
  --fault afl-counter-mismatch:at=3 --fault wrong-ci:at=4 --fault duplicate-access:at=5 > sharp.txt 2>&1
check "sharper faults: the monitor's verdicts" "$?: $(grep -c 'verdicts: 2 ok, 1 no 2F 2F, 1 AFL counter mismatch, 1 unknown CI, 1 duplicate access$' sharp.txt)" "0: 1"
for verdict in "MAC ok, but no 2F 2F after decryption (the meter's encryption is wrong)" \
    "it verifies under the keys of counter 2, not the AFL's 3" "CI A0 where the transport layer belongs: unknown" \
    "access 3 again with other content"; do
  check "monitor: $verdict" "$(grep -cF "$verdict" sharp.txt)" 1
done
timeout 60 "$stick" --rig more.toml -- "$send" --rig more.toml --ticks 6 --interval 0.1 --fault compact-unknown:at=3 \
  --fault ell-bad-crc:at=2 > more.txt 2>&1
check "compact and ELL faults: verdicts" "$?: $(grep -c 'verdicts: 4 ok, 1 payload CRC FAILED, 1 format unknown$' more.txt)" "0: 1"
check "compact frames decoded with the full frame's format" "$(grep -c 'mode 7, counter 1, MAC ok, compact frame (format 1DF6), date-time' more.txt)" 1
# length-mismatch lives in the radio frame: verdanox-frames writes it, the
# monitor reads radio lines
"$frames" --rig one.toml --ticks 3 --format radio --fault length-mismatch:at=2 > radio.txt
check "--radio: an L-field one too short" "$("$stick" --rig one.toml --radio radio.txt | sed -n '2p;4p')" \
  "radio frame: L-field 7A says 122 bytes follow, 123 do
verdicts: 2 ok, 1 length mismatch"

# counter faults are defined by what was sent: after a replay of telegram 1
# there is no lower counter, so telegram 3 goes out without its rewind and
# the summary says so; telegram 5 goes back from 2 to 1
timeout 60 "$stick" --rig one.toml -- "$send" --rig one.toml --ticks 6 --interval 0.1 --fault replay:at=2 \
  --fault counter-rewind:at=3,5 > rewind.txt 2>&1
check "replay + rewind: summary" "$?: $(grep -c '^verdanox-send: 6 telegrams sent, 0 not sent; faults sent: replay 1, counter-rewind 1; counter-rewind: 1 could not apply$' rewind.txt)" "0: 1"
check "replay + rewind: the monitor's verdicts" "$(grep -c 'verdicts: 4 ok, 1 replay, 1 counter went back$' rewind.txt) $(grep -c 'counter went back from 2 to 1$' rewind.txt)" "1 1"
# a rewind goes below the last counter the receiver accepted, not below
# those of telegrams whose MAC failed
timeout 60 "$stick" --rig one.toml -- "$send" --rig one.toml --ticks 5 --interval 0.1 --fault bad-mac:at=3,4 \
  --fault counter-rewind:at=5 > rewind.txt 2>&1
check "bad MACs + rewind: the monitor's verdicts" "$(grep -c 'verdicts: 2 ok, 2 MAC FAILED, 1 counter went back$' rewind.txt) $(grep -c 'counter went back from 1 to 0$' rewind.txt)" "1 1"

# compact frames, the ELL's AES-CTR and a meter behind a radio converter,
# from the example rigs, each checked and decoded
for r in field-meters converter; do
  rig=$(cd "$(dirname "$config")" && pwd)/examples/rigs/$r.toml
  timeout 60 "$stick" --rig "$rig" -- "$send" --rig "$rig" --ticks 8 --interval 0.1 > "$r.txt" 2>&1
  check "$r rig: every telegram ok" "$?: $(grep -c 'verdicts: 8 ok$' "$r.txt")" "0: 1"
done
check "field meters: compact frames (7B, 73, 79), ELL" \
  "$(grep -c 'mode 7, counter 1, MAC ok, compact frame (format 1DF6), \|mode 5, 2F 2F ok, compact frame (format 1A4B), \|no header, plain, compact frame (format CB0F), ' field-meters.txt) $(grep -c 'ELL AES-CTR, session [0-9A-F]* (time 13805280, counter [01]), payload CRC ok, date-time' field-meters.txt)" "3 2"
check "converter: the meter, then the converter" "$(grep -c 'VDX 87654321 v01 t04 via VDX 12345678 v01 t37, access [0-3], mode 5, 2F 2F ok' converter.txt)" 4

# a --fault on a rig with a plain meter: the others take it, stderr says which not
rig=$(cd "$(dirname "$config")" && pwd)/examples/rigs/mixed-security.toml
timeout 60 "$stick" --rig "$rig" -- "$send" --rig "$rig" --ticks 3 --fault wrong-key:at=1 > mixed.txt 2>&1
check "mixed rig: wrong-key where it applies" "$?: $(grep -c '^verdanox-send: --fault wrong-key:at=1 leaves out meter 2 (9858825634120103): wrong-key needs mode 5, mode 7 or ell-ctr (a plain meter has no key)$' mixed.txt) $(grep -c 'mode 5, no 2F 2F after decryption (wrong key?)' mixed.txt) $(grep -c 'mode 7, counter 0, MAC FAILED' mixed.txt)" "0: 1 1 1"

# a log that cannot be written ends the run with the reason and status 1
timeout 60 "$stick" -- sh -c "exec '$send' --ticks 3 --interval 0.1 --json > /dev/full" > full.txt 2>&1
check "a full disk: exit 1 and why" "$?: $(grep -c '^verdanox-send: cannot write standard output: No space left on device$' full.txt) $(grep -c '^verdanox-send: 1 telegrams sent, 0 not sent$' full.txt)" "1: 1 1"

# a closed standard stream never lends its descriptor to the stick's port:
# the wire carries the frames alone, and a closed log is told
timeout 60 "$stick" --frames closed.frames -- sh -c "exec '$send' --ticks 3 --interval 0.1 >&-" > closed.txt 2>&1
check "stdout closed: exit 1 and why, the frames alone on the wire" \
  "$?: $(grep -c '^verdanox-send: cannot write standard output: Bad file descriptor$' closed.txt) $(md5sum < closed.frames)" \
  "1: 1 $("$frames" --ticks 1 | md5sum)"
timeout 60 "$stick" --frames closed.frames -- sh -c "exec '$send' --ticks 3 --interval 0.1 2>&-" > closed.txt 2>&1
check "stderr closed: the frames alone on the wire" "$?: $(md5sum < closed.frames)" "0: $("$frames" --ticks 3 | md5sum)"

for program in "$send --help" "$stick --version"; do
  err=$($program 2>&1 >/dev/full)
  check "a full disk: ${program##*/}" "$?: $err" \
    "1: $(basename "${program% *}"): cannot write standard output: No space left on device"
done

timeout 60 "$stick" --busy -- "$send" --ticks 1 > busy.txt 2>&1
check "busy port: exit status 1" $? 1
check "busy port: the reason" \
  "$(grep -c '^verdanox-send: cannot open USB RF stick VX00010042 on /dev/ttyACM0: busy, held by another program' busy.txt)" 1

[ $fail -eq 0 ] && echo "virtual stick end to end: all checks passed"
exit $fail
