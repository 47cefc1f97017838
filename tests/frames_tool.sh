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
# choices that cannot take effect are refused in one line: options of I/Q
# captures elsewhere, --seed without noise, --json over lines, frame format
# B where no meter's mode has it (T1: format A only), a capture into the
# JSON's standard output; numbers in plain decimal notation only
for bad in "--format radio --snr 12:--snr takes effect only with --format iq" \
    "--format rtlwmbus --centre 868625000:--centre takes effect only with --format iq" \
    "--sample-rate 1000000:--sample-rate takes effect only with --format iq" \
    "--format telegram-lines --frame-format b:--frame-format takes effect only with --format iq or radio-crc" \
    "--format radio --mode c1:--mode takes effect only with --format iq, radio-crc or rtlwmbus" \
    "--format iq --output /dev/null --seed 2:--seed takes effect only with --format iq and --snr (it seeds the noise)" \
    "--format rtlwmbus --json:--json does not go with --format rtlwmbus: its records would replace the lines" \
    "--format radio-crc --frame-format b:--frame-format b: mode T1 sends frame format A only" \
    "--format iq --output /dev/stdout --json:--json does not go with --output /dev/stdout: it is standard output" \
    "--format iq --output /dev/null --snr 0x10:--snr needs decibels from -50 to 100" \
    "--format iq --output /dev/null --freq-offset=_5:--freq-offset needs hertz from -200000 to 200000"; do
  read -ra args <<< "${bad%%:*}"
  err=$("$tool" --config "$config" "${args[@]//_/ }" 2>&1 >/dev/null); rc=$?  # _: a space
  check "refused: ${bad%%:*}" "$rc: $(printf '%s\n' "$err" | head -1)" "2: verdanox-frames: ${bad#*:}"
done
check "radio-crc in format B: C1's CRC blocks" "$("$tool" --config "$config" --ticks 1 --format radio-crc --mode c1 --frame-format b | awk '{print length($0)/2}')" 126

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
man=$(dirname "$0")/../docs/man/verdanox-frames.1
check "every option of --help in the man page's synopsis" \
  "$(comm -23 <("$tool" --help | grep -o -- '--[a-z][a-z-]*' | grep -v -- '--help\|--version' | sort -u) \
      <(sed -n '/^\.SH SYNOPSIS/,/^\.SH DESCRIPTION/p' "$man" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u))" ""
check "--name=value and short forms" "$("$tool" --config="$config" --ticks=2 --format=radio | md5sum)" "$("$tool" -c "$config" -n 2 -f radio | md5sum)"
"$tool" --ticks 0 --config "$config" >/dev/null; check "--ticks 0" $? 0
for bad in "--bogus" "--ticks" "--ticks -1" "--ticks 1x" "--ticks abc" "--config" "--format" "--format hex" "--interval 0.1005"; do
  err=$("$tool" $bad 2>&1 >/dev/null); rc=$?
  check "exit for '$bad'" $rc 2
  printf '%s\n' "$err" | grep -q '^usage:' || { echo "FAIL: no usage line for '$bad'"; fail=1; }
done
# an option is named as typed, also inside a group of short options
for bad in "-Zj:unknown option -Z" "--rig x.toml -Zn 3:unknown option -Z" "-jZ:unknown option -Z" \
    "--bogus=1:unknown option --bogus=1" "--json=1:--json takes no value" "-jn:-n needs a value" "--ticks:--ticks needs a value"; do
  check "names '${bad%%:*}'" "$("$tool" ${bad%%:*} 2>&1 >/dev/null | head -1)" "verdanox-frames: ${bad#*:}"
done
for args in "--config $config --ticks 3 --json" --help --version; do
  err=$("$tool" $args 2>&1 >/dev/full); rc=$?
  check "a full disk ($args): exit 1 and why" "$rc: $err" "1: verdanox-frames: cannot write standard output: No space left on device"
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
err=$("$tool" --rig "$rigs" 2>&1 >/dev/null); rc=$?
check "a directory as --rig" "$rc: $err" "1: verdanox-frames: cannot read $rigs: Is a directory"
dir=$(mktemp -d)
python3 -c "print('a.' * 300000 + 'b = 1')" > "$dir/deep.toml"
err=$("$tool" --rig "$dir/deep.toml" 2>&1 >/dev/null); rc=$?
check "a rig nested 300,000 deep: refused, no crash" "$rc: $err" \
  "2: verdanox-frames: $dir/deep.toml:1:66: nested deeper than 32 levels (table headers, dotted keys, arrays and inline tables)"
python3 -c "print('x = { s = \"\"\"a\"\"\"\", ' + 'a.' * 300000 + 'b = 1 }')" > "$dir/quotes.toml"
err=$("$tool" --rig "$dir/quotes.toml" 2>&1 >/dev/null); rc=$?
check "nested 300,000 deep after a string that ends in four quotes" "$rc: $err" \
  "2: verdanox-frames: $dir/quotes.toml:1:84: nested deeper than 32 levels (table headers, dotted keys, arrays and inline tables)"
# meter time ends with 2099: a run that would pass it is refused before it starts
printf 'readings = "live"\n[clock]\nstart = "2099-12-31T23:50:00Z"\nspeed = 60\n[[meter]]\naddress = "9858705634120103"\n' > "$dir/late.toml"
check "2099: two telegrams fit" "$("$tool" --rig "$dir/late.toml" --ticks 2 --json | tail -1 | grep -o '"meter_time":"[^"]*"')" '"meter_time":"2099-12-31T23:55:00Z"'
err=$("$tool" --rig "$dir/late.toml" --ticks 3 2>&1 >/dev/null); rc=$?
check "2099: the third is refused" "$rc: $err" \
  "2: verdanox-frames: telegram 3 would carry meter time 2100-01-01T00:00:00Z, past 2099-12-31T23:59:59Z, the last a telegram's date can hold"
# "each": offsets from the run's start; a meter that wants more than the gap
# allows does not starve another, and stderr says so once
printf '[schedule]\nmode = "each"\ninterval = 60\n[[meter]]\naddress = "9858705634120103"\noffset = 30\n[[meter]]\naddress = "9858715634120103"\noffset = 45\n' > "$dir/late.toml"
check "offsets delay every first telegram" "$("$tool" --rig "$dir/late.toml" --ticks 3 --json | python3 -c 'import json,sys
print(" ".join("%s/%s" % (json.loads(l)["offset"], json.loads(l)["meter"]) for l in sys.stdin))')" "30.0/0 45.0/1 90.0/0"
printf '[schedule]\nmode = "each"\n[[meter]]\naddress = "9858705634120103"\ninterval = 0.01\n[[meter]]\naddress = "9858715634120103"\ninterval = 10\n' > "$dir/busy.toml"
"$tool" --rig "$dir/busy.toml" --ticks 3000 --json > "$dir/busy.jsonl" 2> "$dir/busy.err"
check "a busy rig: meter 1, skipped slots in JSON" "$(python3 -c 'import json,sys
r = [json.loads(l) for l in open(sys.argv[1])]
print(sum(x["meter"] for x in r), sum(x["skipped"] for x in r))' "$dir/busy.jsonl")" "30 27021"
check "a busy rig: what stderr says" "$(cat "$dir/busy.err")" "verdanox-frames: the meters ask for 100 telegrams a second, the gap of 0.1 s allows 10: slots the stick cannot serve are skipped
verdanox-frames: 27021 slots skipped"
rm -r "$dir"
json=$("$tool" --rig "$rigs/month-end.toml" --ticks 4 --json)
check "month-end rig: offsets, modes, meter times, due dates" \
  "$(printf '%s\n' "$json" | python3 -c 'import json,sys
for l in sys.stdin:
    r = json.loads(l); d = r["readings"]
    print(r["offset"], r["mode"], d["meter_time"], d["due_date"], d["volume"], end="; ")')" \
  "0.0 mode 7 2026-01-31T23:50:00Z 2026-01-01T00:00:00Z 12.5; 5.0 mode 5 2026-01-31T23:55:00Z 2026-01-01T00:00:00Z 1034.106; 10.0 mode 7 2026-02-01T00:00:00Z 2026-02-01T00:00:00Z 12.55; 15.0 mode 5 2026-02-01T00:05:00Z 2026-02-01T00:00:00Z 1034.314; "

# every profile: its device type, header form, security mode and records,
# and the radio frame's L-field from what was encoded
check "all-profiles rig: type, header, mode and records per meter" \
  "$("$tool" --rig "$rigs/all-profiles.toml" --ticks 7 --json | python3 -c 'import json,sys
for l in sys.stdin:
    r = json.loads(l)
    print(r["type"], r["header"], r["mode"], len(r["records"]), end="; ")')" \
  "3 long mode 7 11; 3 short mode 5 5; 7 short plain 7; 6 none plain 7; 4 long mode 7 10; 8 short mode 7 6; 2 short mode 5 4; "
check "all-profiles rig: L = the radio frame's length - 1" "$("$tool" --rig "$rigs/all-profiles.toml" --ticks 7 --format radio | python3 -c 'import sys
print(all(int(l[:2], 16) == len(l.strip()) // 2 - 1 for l in sys.stdin))')" True

# exact 64-bit counts: a whole one as a JSON integer, one with decimals as
# the nearest double and, where that prints another decimal, "exact"; an
# ordinary value as before
dir=$(mktemp -d)
printf '[[meter]]\naddress = "9858705634120107"\nrecords = [
  { quantity = "volume", bits = 64, value = 9223372036854775807 },
  { dif = "07", vif = "FD17", value = "0xFFFFFFFFFFFFFFFF" },
  { quantity = "volume", bits = 64, decimals = 3, value = -9223372036854775 },
  { quantity = "volume", bits = 32, decimals = 3, value = 123.456 } ]\n' > "$dir/exact.toml"
check "JSON: exact 64-bit counts" "$("$tool" --rig "$dir/exact.toml" --ticks 1 --json | grep -o '"value":[^}]*' | tr '\n' ' ')" \
  '"value":9223372036854775807 "value":18446744073709551615 "value":-9.223372036854776e+15,"exact":"-9223372036854775.000" "value":123.456 '
rm -r "$dir"

# compact frames and the ELL's AES-CTR: each telegram's frame, signature,
# mode and session counter; a converter's telegram: the meter's own address
# in the JSON, the converter's beside it and in the link layer (and so in
# the identification number rtl_wmbus prints)
check "field rig: frames, signatures, modes, sessions" \
  "$("$tool" --rig "$rigs/field-meters.toml" --ticks 8 --json | python3 -c 'import json,sys
for l in sys.stdin:
    r = json.loads(l)
    print(r["meter"], r["frame"], r["signature"], r["mode"], r.get("session", {}).get("counter", "-"), end="; ")')" \
  "0 full 0x1DF6 mode 7 -; 1 full 0x1A4B mode 5 -; 2 full 0x1DF6 ell-ctr 0; 3 full 0xCB0F plain -; 0 compact 0x1DF6 mode 7 -; 1 compact 0x1A4B mode 5 -; 2 full 0x1DF6 ell-ctr 1; 3 compact 0xCB0F plain -; "
check "field rig: the CI after the link layer (ELL 8C; long header 72, compact 73; ELL 8D; none 78, compact 79)" \
  "$("$tool" --rig "$rigs/field-meters.toml" --ticks 8 --format radio | cut -c 21-22 | tr '\n' ' ')" "8C 72 8D 78 8C 73 8D 79 "
check "converter rig: the meter's address and the converter's" \
  "$("$tool" --rig "$rigs/converter.toml" --ticks 2 --json | python3 -c 'import json,sys
for l in sys.stdin:
    r = json.loads(l); print(r["id"], r["type"], r.get("converter", {}).get("id"), r["frames"][0], end="; ")')" \
  "12345678 7 None 0108009858785634120107; 87654321 4 12345678 0108009858785634120137; "
check "converter rig: rtl_wmbus names the link layer's ID" "$("$tool" --rig "$rigs/converter.toml" --ticks 2 --format rtlwmbus | cut -d';' -f7 | sort -u)" 12345678
# length-mismatch: the radio frame's L-field one too long (each meter's
# telegram 1), one too short (meter 0's telegram 2); refused on a stick
check "length-mismatch: L less the bytes after it" "$("$tool" --rig "$rigs/field-meters.toml" --ticks 4 --format radio -F length-mismatch:at=1,2 | python3 -c 'import sys
print(" ".join(str(int(l[:2], 16) - (len(l.strip()) // 2 - 1)) for l in sys.stdin))')" "1 1 1 1"
err=$("$tool" --rig "$rigs/field-meters.toml" -F length-mismatch 2>&1 >/dev/null); rc=$?
check "length-mismatch on stick frames" "$rc: $err" \
  "2: verdanox-frames: --fault length-mismatch: length-mismatch needs a radio output of verdanox-frames (--format radio, radio-crc, rtlwmbus, telegram-lines or iq): a stick writes the L-field itself"

# a telegram of 249 bytes: its L-field fits frame format A, not format B
# (whose L counts the CRCs)
dir=$(mktemp -d)
python3 -c 'print("[[meter]]\naddress = \"9858705634120103\"\nrecords = [")
print("  { quantity = \"volume\", digits = 12, decimals = 3, value = \"register\" },\n" * 29 + "]")' > "$dir/big.toml"
check "249 bytes in format A: L = 254" "$("$tool" --rig "$dir/big.toml" --ticks 1 --format radio | head -c 2)" FE
err=$("$tool" --rig "$dir/big.toml" --ticks 1 --format radio-crc --frame-format b 2>&1 >/dev/null); rc=$?
check "249 bytes in format B: refused" "$rc: $err" \
  "2: verdanox-frames: meter table 1: its telegrams of 249 bytes do not fit frame format B (at most 246)"
rm -r "$dir"

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
  "2: verdanox-frames: --fault bad-crc: bad-crc needs verdanox-frames --format radio-crc or iq (a stick computes the CRCs itself)"
err=$("$tool" --config "$config" --plain --fault bad-mac:every=5 2>&1 >/dev/null); rc=$?
check "bad-mac on plain meters only" "$rc: $err" \
  "2: verdanox-frames: --fault bad-mac:every=5: bad-mac needs mode 7 (a plain meter has no MAC or counter)"
# a --fault goes to the meters that can take it; the rest are named once
err=$("$tool" --rig "$rigs/mixed-security.toml" --fault wrong-key:at=1 --fault bad-mac --ticks 6 --json 2>&1 >"$config.$$"); rc=$?
check "mixed rig: the meters a --fault leaves out" "$rc: $err" "0: verdanox-frames: --fault wrong-key:at=1 leaves out meter 2 (9858825634120103): wrong-key needs mode 5, mode 7 or ell-ctr (a plain meter has no key)
verdanox-frames: --fault bad-mac leaves out meter 0 (9858805634120103): bad-mac needs mode 7 (a mode 5 meter has no MAC or counter); meter 2 (9858825634120103): bad-mac needs mode 7 (a plain meter has no MAC or counter)"
check "mixed rig: the faults sent" "$(python3 -c 'import json,sys
print(" ".join("%d:%s" % (json.loads(l)["meter"], json.loads(l)["fault"]) for l in open(sys.argv[1])))' "$config.$$")" \
  "0:wrong-key 2:None 1:wrong-key 0:None 1:bad-mac 0:None"
rm -f "$config.$$"
# a counter rewind after a replay has no lower counter to go to: sent
# without it, never wrapped, and counted
json=$("$tool" --config "$config" -F replay:at=2 -F counter-rewind:at=3 -n 21 --json 2>"$config.err.$$")
check "rewind after replay: telegram 3" "$(printf '%s\n' "$json" | sed -n 21p | grep -o '"counter":[0-9]*\|"fault":[a-z"-]*' | tr '\n' ' ')" '"counter":1 "fault":null '
check "rewind after replay: counted" "$(cat "$config.err.$$")" "verdanox-frames: counter-rewind: 1 could not apply"
json=$("$tool" --config "$config" -F replay:at=2 -F counter-rewind:at=3 -F bad-mac:at=3 -n 21 --json 2>"$config.err.$$")
check "rewind after replay: the next rule that falls takes telegram 3" \
  "$(printf '%s\n' "$json" | sed -n 21p | grep -o '"fault":[a-z"-]*') $(cat "$config.err.$$")" \
  '"fault":"bad-mac" verdanox-frames: counter-rewind: 1 could not apply'
# alone, a kind that needs a telegram before it takes every telegram it can
printf '[[meter]]\naddress = "9858705634120103"\nkey = "000102030405060708090A0B0C0D0E0F"\n' > "$config.one.$$"
json=$("$tool" --rig "$config.one.$$" --ticks 3 --fault replay --json 2>"$config.err.$$"); rc=$?
check "replay on every telegram" "$rc: $(printf '%s\n' "$json" | grep -o '"fault":[a-z"-]*' | tr '\n' ' ')$(cat "$config.err.$$")" \
  '0: "fault":null "fault":"replay" "fault":"replay" verdanox-frames: replay: 1 could not apply'
rm -f "$config.err.$$" "$config.one.$$"
"$tool" --config "$config" --fault often >/dev/null 2>&1; check "a bad --fault" $? 2
check "JSON marks the faults" "$("$tool" --config "$config" --ticks 20 --json --fault truncated:at=2 | python3 -c 'import json,sys
print(" ".join(str(json.loads(l)["fault"]) for l in sys.stdin))')" "$(echo None None None None None None None None None None truncated truncated truncated truncated truncated truncated truncated truncated truncated truncated)"

[ $fail -eq 0 ] && echo "frames tool: all checks passed"
exit $fail
