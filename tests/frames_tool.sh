#!/usr/bin/env bash
# verdanox-frames as a process: frame count and sizes, options and exits.
set -u
tool=$1 config=$2
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2], want [$3]"; fail=1; fi; }

out=$("$tool" --config "$config" --ticks 12)
check "exit" $? 0
check "line count for 12 ticks" "$(printf '%s\n' "$out" | wc -l)" 24
check "frame lengths" "$(printf '%s\n' "$out" | awk '{print length($0)/2}' | sort -n | uniq -c | awk '{print $1"x"$2}' | tr '\n' ' ')" "12x11 12x118 "
check "upper-case hex only" "$(printf '%s\n' "$out" | grep -c '[^0-9A-F]')" 0
check "tick 11 serves meter 0 again" "$(printf '%s\n' "$out" | sed -n 21p)" "$(printf '%s\n' "$out" | sed -n 1p)"

plain=$("$tool" --config "$config" --ticks 3 --plain | awk '{print length($0)/2}' | tr '\n' ' ')
check "plain sizes" "$plain" "11 97 11 97 11 97 "

# radio frames: one line per telegram, L C M A from the address frame
radio=$("$tool" --config "$config" --ticks 12 --format radio)
check "radio: a line per telegram" "$(printf '%s\n' "$radio" | awk '{print length($0)/2}' | sort | uniq -c | awk '{print $1"x"$2}')" "12x124"
check "radio: L C M A of meter 0" "$(printf '%s\n' "$radio" | head -c 20)" "7B449858705634120103"
check "radio-crc: frame format A sizes (103 + 7 CRCs)" "$("$tool" --config "$config" --ticks 2 --plain --format radio-crc | awk '{print length($0)/2}' | tr '\n' ' ')" "117 117 "

# the line formats receivers read, parsed back: rtl_wmbus's fields (mode,
# CRC and coding good, time, two signal strengths, the identification
# number, the radio frame) and simulation-file lines (the frame, whole
# seconds after the first telegram); rtl_wmbus prints T1, C1 and S1 only
rigs=$(dirname "$0")/../examples/rigs
check "rtlwmbus and telegram-lines: fields as --format radio and --json say" "$(python3 - "$tool" "$rigs/month-end.toml" <<'PY'
import json, re, subprocess, sys
run = lambda *a: subprocess.run([sys.argv[1], "--rig", sys.argv[2], "--ticks", "4", *a], capture_output=True, text=True).stdout.split("\n")[:-1]
radio, records = run("--format", "radio"), [json.loads(l) for l in run("--json")]
for mode, line, sim, want, r in zip("t1 c1 s1 t1".split(), [run("--format", "rtlwmbus", "--mode", m)[i] for i, m in enumerate("t1 c1 s1 t1".split())],
                                     run("--format", "telegram-lines"), radio, records):
    f = line.split(";")
    ok = (f[:3] == [mode.upper(), "1", "1"] and re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}", f[3]) and f[4:6] == ["97", "148"]
          and f[6] == r["id"] and f[7] == "0x" + want and sim == "telegram=|%s|+%d" % (want, int(r["offset"])))
    print(f[3] if ok else "BAD " + line + " " + sim, end="; ")
PY
)" "2026-01-31 23:50:00.000; 2026-01-31 23:50:05.000; 2026-01-31 23:50:10.000; 2026-01-31 23:50:15.000; "
err=$("$tool" --config "$config" --format rtlwmbus --mode r2 2>&1 >/dev/null); rc=$?
check "rtlwmbus in mode R2" "$rc: $err" "2: verdanox-frames: --format rtlwmbus takes modes t1, c1 and s1 (the lines rtl_wmbus prints), not r2"

# the default is VDXconfig.txt in the current directory, and 10 ticks
dir=$(mktemp -d)
cp "$config" "$dir/VDXconfig.txt"
check "default config and ticks" "$(cd "$dir" && "$tool" | md5sum)" "$("$tool" --config "$config" --ticks 10 | md5sum)"
rm "$dir/VDXconfig.txt"
err=$(cd "$dir" && "$tool" --ticks 1 2>&1 >/dev/null)
check "missing default config: one line that says where" "$err" \
  "verdanox-frames: cannot read $(cd "$dir" && pwd -P)/VDXconfig.txt: No such file or directory (all meter addresses and keys are zero)"
check "missing config: zero address" "$(cd "$dir" && "$tool" --ticks 1 2>/dev/null | head -1)" "0108000000000000000000"
rmdir "$dir"

"$tool" --help | grep -q '^usage: verdanox-frames'; check "--help" $? 0
check "--name=value and short forms" "$("$tool" --config="$config" --ticks=2 --format=radio | md5sum)" "$("$tool" -c "$config" -n 2 -f radio | md5sum)"
"$tool" --ticks 0 --config "$config" >/dev/null; check "--ticks 0" $? 0
for bad in "--bogus" "--ticks" "--ticks -1" "--ticks 1x" "--ticks abc" "--config" "--format" "--format hex"; do
  err=$("$tool" $bad 2>&1 >/dev/null); rc=$?
  check "exit for '$bad'" $rc 2
  printf '%s\n' "$err" | grep -q '^usage:' || { echo "FAIL: no usage line for '$bad'"; fail=1; }
done
err=$("$tool" --config /nonexistent/VDX.txt 2>&1 >/dev/null); rc=$?
check "unreadable --config" $rc 1
check "unreadable --config names the file" "$err" "verdanox-frames: cannot read /nonexistent/VDX.txt: No such file or directory"
err=$("$tool" --config /tmp 2>&1 >/dev/null); rc=$?
check "a directory as --config" "$rc: $err" "1: verdanox-frames: cannot read /tmp: Is a directory"

# rig files: the window's ten meters as a rig are the configuration's
# telegrams; a bad rig names file, line and column; options that do not go
# together; JSON records with the offset and readings
for f in "" "--format radio-crc"; do
  check "ten-meter rig equals --config $f" "$("$tool" --rig "$rigs/ten-meters.toml" --ticks 23 $f | md5sum)" \
    "$("$tool" --config "$config" --ticks 23 $f | md5sum)"
done
dir=$(mktemp -d)
printf '[[meter]]\naddress = "9858705634120103"\nsecurity = "mode5"\n' > "$dir/bad.toml"
err=$("$tool" --rig "$dir/bad.toml" 2>&1 >/dev/null); rc=$?
check "bad rig: exit 2 and where" "$rc: $err" "2: verdanox-frames: $dir/bad.toml:3:12: mode5 needs the meter's key"
rm -r "$dir"
"$tool" --rig "$rigs/ten-meters.toml" --plain >/dev/null 2>&1; check "--plain with --rig" $? 2
"$tool" --rig "$rigs/ten-meters.toml" --config "$config" >/dev/null 2>&1; check "--rig with --config" $? 2
"$tool" --rig /nonexistent.toml >/dev/null 2>&1; check "unreadable --rig" $? 1
json=$("$tool" --rig "$rigs/month-end.toml" --ticks 4 --json)
check "month-end rig: offsets, modes, meter times, due dates" \
  "$(printf '%s\n' "$json" | python3 -c 'import json,sys
for l in sys.stdin:
    r = json.loads(l); d = r["readings"]
    print(r["offset"], r["mode"], d["meter_time"], d["due_date"], d["volume"], end="; ")')" \
  "0.0 mode 7 2026-01-31T23:50:00Z 2026-01-01T00:00:00Z 12.5; 5.0 mode 5 2026-01-31T23:55:00Z 2026-01-01T00:00:00Z 1034.106; 10.0 mode 7 2026-02-01T00:00:00Z 2026-02-01T00:00:00Z 12.55; 15.0 mode 5 2026-02-01T00:05:00Z 2026-02-01T00:00:00Z 1034.314; "

# faults: bad-crc inverts the first block's CRC high byte in radio-crc output
# only, and is refused elsewhere; a kind a meter cannot take is refused
good=$("$tool" --config "$config" --ticks 2 --format radio-crc)
bad=$("$tool" --config "$config" --ticks 2 --format radio-crc --fault=bad-crc:at=1)
check "bad-crc: only byte 10 of each frame changed" \
  "$(paste <(printf '%s\n' "$good") <(printf '%s\n' "$bad") | python3 -c 'import sys
for l in sys.stdin:
    a, b = (bytes.fromhex(x) for x in l.split())
    print([i for i in range(len(a)) if a[i] != b[i]], (a[10] ^ b[10]), end=" ")')" "[10] 255 [10] 255 "
err=$("$tool" --config "$config" --fault bad-crc 2>&1 >/dev/null); rc=$?
check "bad-crc on stick frames" "$rc: $err" \
  "2: verdanox-frames: meter 0 (9858705634120103): bad-crc needs --format radio-crc or iq (a stick computes the CRCs itself)"
err=$("$tool" --config "$config" --plain --fault bad-mac:every=5 2>&1 >/dev/null); rc=$?
check "bad-mac on a plain meter" "$rc: $err" \
  "2: verdanox-frames: meter 0 (9858705634120103): bad-mac needs mode 7 (a plain meter has no MAC or counter)"
"$tool" --config "$config" --fault often >/dev/null 2>&1; check "a bad --fault" $? 2
check "JSON marks the faults" "$("$tool" --config "$config" --ticks 20 --json --fault truncated:at=2 | python3 -c 'import json,sys
print(" ".join(str(json.loads(l)["fault"]) for l in sys.stdin))')" "$(echo None None None None None None None None None None truncated truncated truncated truncated truncated truncated truncated truncated truncated truncated)"

[ $fail -eq 0 ] && echo "frames tool: all checks passed"
exit $fail
