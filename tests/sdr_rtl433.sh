#!/usr/bin/env bash
# I/Q captures decoded by independent receivers:
# - Debian's rtl_433: decoder 104 (modes C and T) decodes every telegram of
#   a 40-telegram capture (plain, mode 5 and mode 7 meters) with its CRCs
#   checked and its bytes equal to --format radio, also with noise, a
#   frequency offset and a chip-rate error; at 0 dB almost nothing. Decoder
#   105 (mode S) takes rows of at most 2112 chips and 100 bytes: S2 frames
#   of plain and mode 5 meters without their last 16 bytes (truncated); S1's
#   576-chip header leaves no telegram of ours room. Decoder 107 (mode F)
#   stops after the synchronisation word in 22.11 (it tells the frame
#   format, at 200 kHz where its FSK detector follows +-5.5 kHz). Decoder
#   106 expects R at 9.6 kchip/s with a Manchester-coded header, not R2 as
#   EN 13757-4 gives it, and is not used.
# - An FM discriminator (fm_discriminator.py) for every mode, with noise and
#   a chip-rate error: each frame as --format radio-crc prints it, also in a
#   capture of three modes around 868.625 MHz.
# - rtl_433-named captures decoded from their names alone; the air faults;
#   channels outside the sampled band and unwritable outputs refused.
#   sdr_rtl433.sh FRAMES
set -u
tool=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2], want [$3]"; fail=1; else echo "ok     $1"; fi; }
cat > rig.toml <<'TOML'
readings = "live"
[clock]
start = "2026-01-31T23:50:00Z"
speed = 60
[[meter]]
address = "9858705634120103"
[[meter]]
address = "9858715634120103"
key = "000102030405060708090A0B0C0D0E0F"
security = "mode5"
flow = 1.5
[[meter]]
address = "9858725634120103"
key = "101112131415161718191A1B1C1D1E1F"
TOML
head -11 rig.toml > short.toml  # the plain and the mode 5 meter
"$tool" --rig rig.toml --ticks 40 --format radio > radio.txt
"$tool" --rig short.toml --ticks 40 --format radio --fault truncated >> radio.txt

# decoded: how many carry "mic":"CRC" and equal the radio frames (frame
# format A: rtl_433 shows L - 2 and the last block's CRC after the data;
# format B: the frame without its CRCs); the first telegram's time against
# its first sample
decode() {  # FILE RATE FORMAT [json] [DECODER]; RATE "-": from the file's name
  rtl_433 -r "$1" $([ "$2" = - ] || echo "-s $2") -R "${5:-104}" -F json 2>/dev/null | python3 -c '
import json, sys
fmt, records = sys.argv[1], [json.loads(l) for l in open("rec.jsonl")] if sys.argv[2] == "json" else []
radio = [bytes.fromhex(l) for l in open("radio.txt").read().split()]
got = [json.loads(l) for l in sys.stdin if l.startswith("{")]
good = 0
for g in got:
    d = bytes.fromhex(g["data"])
    if g.get("mic") != "CRC": continue
    if fmt == "a": d = bytes([d[0] + 2]) + d[1:-2]
    good += d in radio
print(len(got), good, end="")
if records and got:
    print(" %.4f" % (float(got[0]["time"].strip("@s")) - records[0]["first_sample"] / 1200000), end="")
' "$3" "${4:-}"
}
for mode in t1 c1; do
  "$tool" --rig rig.toml --ticks 40 --format iq --mode $mode --output cap.cu8 --json > rec.jsonl
  check "$mode: 40 of 40 decode, CRCs checked, bytes as --format radio, first telegram where its samples say" \
    "$(decode cap.cu8 1200000 a json)" "40 40 0.0000"
  "$tool" --rig rig.toml --ticks 40 --format iq --mode $mode --output imp.cu8 --snr 20 --freq-offset 20000 --clock-ppm 50 --seed 3
  check "$mode: 20 dB, 20 kHz off, 50 ppm: all decode" "$(decode imp.cu8 1200000 a)" "40 40"
  "$tool" --rig rig.toml --ticks 40 --format iq --mode $mode --output noise.cu8 --snr 3 --seed 3
  n=$(decode noise.cu8 1200000 a | cut -d' ' -f2)
  check "$mode: 3 dB: almost none decode" "$([ -s noise.cu8 ] && [ "$n" -le 2 ] && echo yes || echo "$n")" yes
done
"$tool" --rig rig.toml --ticks 40 --format iq --mode c1 --frame-format b --output b.cs16 --iq-format cs16
check "c1, frame format B, cs16: all decode" "$(decode b.cs16 1200000 b)" "40 40"
"$tool" --rig rig.toml --ticks 40 --format iq --output s8.cs8 --iq-format cs8 --sample-rate 1600000
check "t1, cs8 at 1.6 MHz: all decode" "$(decode s8.cs8 1600000 a)" "40 40"
for impair in "" "--snr 20 --freq-offset 20000 --clock-ppm 50"; do
  "$tool" --rig short.toml --ticks 40 --fault truncated --format iq --mode s2 --sample-rate 1000000 --output s2.cu8 $impair
  check "s2 at 1 MHz ${impair:-clean}: all decode (-R 105)" "$(decode s2.cu8 1000000 a "" 105)" "40 40"
done
for f in a b; do
  for impair in "" "--snr 20 --freq-offset 2000 --clock-ppm 50"; do
    "$tool" --rig rig.toml --ticks 40 --format iq --mode f --frame-format $f --sample-rate 200000 --output f.cu8 $impair
    check "f, format $f, at 200 kHz ${impair:-clean}: 40 synchronisation words (-R 107)" \
      "$(rtl_433 -r f.cu8 -s 200000 -R 107:v 2>&1 | grep -c "Mode F, Format ${f^^}$")" 40
  done
done

# the FM discriminator: every mode, frame formats A and B where the mode
# has them, at 20 dB and 50 ppm, as --format radio-crc prints the frames;
# also at rates of whole kilohertz that are no multiple of 100 kHz
# (rtl_433's default 250 kHz, 2048 kHz: 20.48 samples a chip)
for spec in "s1 1200000 a" "s2 1200000 a" "t1 1200000 a" "r2 200000 a" "c1 1200000 a" "c1 1200000 b" \
  "f 200000 a" "f 200000 b" "n 100000 a" "n 100000 b" "f 250000 b" "t1 2048000 a"; do
  set -- $spec
  "$tool" --rig rig.toml --ticks 6 --format iq --mode "$1" --frame-format "$3" --sample-rate "$2" --output d.cs16 \
    --iq-format cs16 --snr 20 --clock-ppm 50 --json > d.jsonl
  check "$1 at $2 Hz, format $3, 20 dB, 50 ppm: the discriminator's frames are radio-crc's" \
    "$("$here/fm_discriminator.py" d.cs16 d.jsonl cs16 | md5sum)" \
    "$("$tool" --rig rig.toml --ticks 6 --format radio-crc --mode "$1" --frame-format "$3" | md5sum)"
done
# one capture between channels: S1 at -325 kHz, T1 and C1 at +325 kHz
sed -e '6a radio = "s1"' -e '$a radio = "c1"' rig.toml > mixed.toml
"$tool" --rig mixed.toml --ticks 6 --format iq --centre 868625000 --output m.cu8 --snr 25 --json > m.jsonl
check "S1, T1 and C1 around 868.625 MHz, 25 dB: every frame" \
  "$("$here/fm_discriminator.py" m.cu8 m.jsonl | md5sum)" "$("$tool" --rig mixed.toml --ticks 6 --format radio-crc | md5sum)"
check "... and the channels in the records" "$(python3 -c 'import json,sys
print(" ".join("%s:%d" % (r["radio"], r["channel_hz"] - r["centre_hz"]) for r in map(json.loads, open("m.jsonl"))))')" \
  "s1:-325000 t1:325000 c1:325000 s1:-325000 t1:325000 c1:325000"
# command-line choices go to the meters that can take them, the others are
# named once: frame format B (C1 only here), bad-3of6 (T1 only); every
# carrier 60 kHz off, as the records say (C1's lower tone on the other side)
"$tool" --rig mixed.toml --ticks 6 --format iq --centre 868625000 --output m.cu8 --snr 25 --frame-format b --json \
  --freq-offset 60000 > m.jsonl 2> m.err
check "... format B where the mode has it, 60 kHz off: every frame, stderr names the others once" \
  "$?: $("$here/fm_discriminator.py" m.cu8 m.jsonl | md5sum) $(cat m.err)" \
  "0: $("$tool" --rig mixed.toml --ticks 6 --format radio-crc --frame-format b 2>/dev/null | md5sum) verdanox-frames: --frame-format b leaves out meter 0 (9858705634120103): mode S1 sends frame format A only; meter 1 (9858715634120103): mode T1 sends frame format A only"
"$tool" --rig mixed.toml --ticks 6 --format iq --centre 868625000 --output m.cu8 --fault bad-3of6 --json > m.jsonl 2> m.err
check "... bad-3of6 on the T1 meter only" "$?: $(python3 -c 'import json
print(" ".join("%s:%s" % (r["radio"], r["fault"]) for r in map(json.loads, open("m.jsonl"))))') $(cat m.err)" \
  "0: s1:None t1:bad-3of6 c1:None s1:None t1:bad-3of6 c1:None verdanox-frames: --fault bad-3of6 leaves out meter 0 (9858705634120103): bad-3of6 needs mode t1 (mode S1 has no 3-out-of-6 code); meter 2 (9858725634120103): bad-3of6 needs mode t1 (mode C1 has no 3-out-of-6 code)"

# rtl_433-named captures with their ground truth, decoded by name alone;
# the record says how each was sent, the frame on the air as radio-crc's
"$tool" --rig rig.toml --ticks 3 --format iq --output-dir corpus --snr 20 --freq-offset 1500 --clock-ppm 20
check "--output-dir: names" "$(cd corpus && ls | tr '\n' ' ')" \
  "g001_868.95M_1200k.cu8 g001_868.95M_1200k.json g002_868.95M_1200k.cu8 g002_868.95M_1200k.json g003_868.95M_1200k.cu8 g003_868.95M_1200k.json "
check "--output-dir: how each was sent" "$(python3 -c 'import json
for n in 1, 2, 3:
    r = json.load(open("corpus/g00%d_868.95M_1200k.json" % n))
    print(*(r[k] for k in ("frame_format", "iq_format", "snr_db", "seed", "freq_offset_hz", "clock_ppm", "air_frame")))')" \
  "$("$tool" --rig rig.toml --ticks 3 --format radio-crc | sed 's/^/a cu8 20.0 1 1500.0 20.0 /')"
err=$("$tool" --rig rig.toml --ticks 1 --format iq --output-dir corpus --iq-format cs16 2>&1); rc=$?
check "--output-dir again: refused, nothing added" "$rc: $err $(ls corpus | wc -l)" \
  "1: verdanox-frames: cannot write corpus: it holds g001_868.95M_1200k.cu8 of an earlier run (a corpus goes into a folder of its own) 6"
# a write that fails (files limited to 60 KiB: the third telegram's, of mode
# 7, is larger) leaves whole pairs of capture and record only
(trap '' XFSZ; ulimit -f 60; "$tool" --rig rig.toml --ticks 3 --format iq --output-dir part 2>err.txt); rc=$?
check "--output-dir, a failed write: no part of a capture left" "$rc: $(cat err.txt) $(ls part | tr '\n' ' ')" \
  "1: verdanox-frames: cannot write part/g003_868.95M_1200k.cu8: File too large g001_868.95M_1200k.cu8 g001_868.95M_1200k.json g002_868.95M_1200k.cu8 g002_868.95M_1200k.json "
for n in 1 2 3; do
  cp corpus/g00${n}_868.95M_1200k.json rec.jsonl
  check "g00$n decoded from its name, its JSON where the burst lies" "$(decode corpus/g00${n}_868.95M_1200k.cu8 - a json)" \
    "1 1 0.0000"
done
"$tool" --rig rig.toml --ticks 1 --format iq --mode s1 --centre 868625000 --sample-rate 1000000 --output-dir s --iq-format cs16
check "--centre and --sample-rate in the name" "$(ls s)" "$(printf 'g001_868.625M_1000k.cs16\ng001_868.625M_1000k.json')"
"$tool" --rig rig.toml --ticks 1 --format iq --mode f --sample-rate 250000 --output-dir f
check "rtl_433's default rate in the name" "$(ls f)" "$(printf 'g001_433.82M_250k.cu8\ng001_433.82M_250k.json')"

# the air faults: what rtl_433 drops (every 4th telegram of each meter: 9)
for fault in bad-3of6 bad-sync; do
  "$tool" --rig rig.toml --ticks 40 --format iq --output fault.cu8 --fault $fault:every=4
  check "t1 $fault:every=4: 31 decode" "$(decode fault.cu8 1200000 a | cut -d' ' -f2)" 31
done
err=$("$tool" --rig rig.toml --format iq --mode c1 --output x.cu8 --fault bad-3of6 2>&1); rc=$?
check "bad-3of6 in C1" "$rc: $err" "2: verdanox-frames: --fault bad-3of6: bad-3of6 needs mode t1 (mode C1 has no 3-out-of-6 code)"
sed '$a faults = [{ kind = "bad-3of6" }]' mixed.toml > strict.toml  # written on the C1 meter: strict
err=$("$tool" --rig strict.toml --format iq --centre 868625000 --output x.cu8 2>&1); rc=$?
check "bad-3of6 written on a C1 meter" "$rc: $err" "2: verdanox-frames: meter 2 (9858725634120103): bad-3of6 needs mode t1 (mode C1 has no 3-out-of-6 code)"
"$tool" --rig rig.toml --format radio-crc --fault bad-sync >/dev/null 2>&1; check "bad-sync outside iq" $? 2

# refused: channels that do not fit the sampled band, with the numbers;
# outputs that cannot be written, with the file and the reason
err=$("$tool" --rig rig.toml --format iq --output x.cu8 --sample-rate 400000 --freq-offset 200000 2>&1); rc=$?
check "offset past the band" "$rc: $err" "2: verdanox-frames: mode T1 at 869.15 MHz lies 200000 Hz from the capture's centre, 868.95 MHz: |offset| + deviation + chip rate / 2 = 200000 + 50000 + 50000 = 300000 Hz is not below half the sample rate, 200000 Hz"
err=$("$tool" --rig mixed.toml --format iq --output x.cu8 2>&1); rc=$?
check "a meter's channel outside the band (centred on T1)" "$rc: $err" "2: verdanox-frames: meter 0 (9858705634120103): mode S1 at 868.3 MHz lies -650000 Hz from the capture's centre, 868.95 MHz: |offset| + deviation + chip rate / 2 = 650000 + 50000 + 16384 = 716384 Hz is not below half the sample rate, 600000 Hz"
err=$("$tool" --rig rig.toml --ticks 1 --format iq --output /dev/full 2>&1); rc=$?
check "a full disk" "$rc: $err" "1: verdanox-frames: cannot write /dev/full: No space left on device"
err=$("$tool" --rig rig.toml --ticks 1 --format iq --output-dir radio.txt 2>&1); rc=$?
check "a file as --output-dir" "$rc: $err" "1: verdanox-frames: cannot write radio.txt: Not a directory"

"$tool" --rig rig.toml --format iq --output - --json >/dev/null 2>&1; check "--json with --output -" $? 2
"$tool" --rig rig.toml --format iq --mode t1 --frame-format b --output x.cu8 >/dev/null 2>&1; check "T1 in format B" $? 2
"$tool" --rig rig.toml --format iq >/dev/null 2>&1; check "iq without --output" $? 2
"$tool" --rig rig.toml --format iq --output x.cu8 --sample-rate 1250500 >/dev/null 2>&1; check "1250.5 kHz" $? 2
err=$("$tool" --rig rig.toml --format iq --output x.cu8 --snr -10 2>&1); rc=$?
check "noise that would clip in cu8" "$rc: $err" "2: verdanox-frames: --snr -10 in cu8: the noise would clip 39.4 % of the I and Q values at full scale and the capture would hold less noise than asked; cu8, cs8 and cs16 take 2.7 dB and above (at most 1 % clipped), cf32 any SNR"

[ $fail -eq 0 ] && echo "I/Q captures through rtl_433 and the discriminator: all checks passed"
exit $fail
