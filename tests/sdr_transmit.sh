#!/usr/bin/env bash
# verdanox-send --sdr without a radio: a SoapySDR module of the tests' own
# (sdr_module/test_transmitter.cpp, through SOAPY_SDR_PLUGIN_PATH) writes
# what it is given, with the stream times, to a file; rtl_433 decodes the
# file (data equal to --format radio) and the burst times are held against
# the schedule: on the stream's clock, and on the host's where the device
# has none, and the records' times are the bursts' on the air. A device
# that fails mid-run is reported and used again; the duty cycle holds
# telegrams back, also across runs, in one account per device however it
# is named, with two runs at once, and a bad account file never blocks;
# the gap of "each" makes room for a burst; a stream format, full scale, sample
# rate or write size the device names wrongly is handled; settings the
# device cannot take and options that do not go together are refused.
#   sdr_transmit.sh SEND FRAMES MODULE_DIR
set -u
send=$1 frames=$2
export SOAPY_SDR_PLUGIN_PATH=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
export XDG_STATE_HOME="$dir/state"  # the duty-cycle accounts
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
[[meter]]
address = "9858725634120103"
key = "101112131415161718191A1B1C1D1E1F"
TOML
tail -3 rig.toml > one.toml  # the mode 7 meter alone
"$frames" --rig rig.toml --ticks 20 --interval 0.1 --format radio > radio.txt
"$frames" --rig rig.toml --ticks 20 --interval 0.1 --json > schedule.jsonl

# decoded: how many carry "mic":"CRC" and equal the radio frames
decode() {  # FILE FORMAT(a|b)
  rtl_433 -r "$1" -s 1200000 -R 104 -F json 2>/dev/null | python3 -c '
import json, sys
radio = [bytes.fromhex(l) for l in open("radio.txt").read().split()]
got = [json.loads(l) for l in sys.stdin if l.startswith("{")]
good = 0
for g in got:
    d = bytes.fromhex(g["data"])
    if g.get("mic") != "CRC": continue
    if sys.argv[1] == "a": d = bytes([d[0] + 2]) + d[1:-2]
    good += d in radio
print(len(got), good)' "$2"
}
# the bursts' times against the schedule: the largest error in microseconds
# of each burst's time after the first, taken from the module's log (TIME:
# the time given on the stream's clock, or its arrival) and the records'
# offsets; and the shortest lead of an arrival before its stream time (ms)
timing() {  # LOG JSONL time_ns|arrived_ns
  python3 - "$@" <<'PY'
import json, sys
log = [dict(kv.split("=") for kv in l.split()[3:]) for l in open(sys.argv[1]) if l.startswith("burst")]
sent = [json.loads(l) for l in open(sys.argv[2])]
offsets = [json.loads(l)["offset"] for l in open("schedule.jsonl")]
sent_offsets = [o for o, s in zip(offsets, sent) if s["written"]]
t = [int(b[sys.argv[3]]) for b in log]
err = max(abs((t[i] - t[0]) / 1e3 - (sent_offsets[i] - sent_offsets[0]) * 1e6) for i in range(len(t)))
stream = [s.get("stream_time_ns") for s in sent if s["written"]]
same = all(s is None or s == int(b["time_ns"]) for s, b in zip(stream, log))
leads = [(int(b["time_ns"]) - int(b["arrived_ns"])) / 1e6 for b in log if b["time_ns"] != "0"]
lead = "%.0f ms" % min(leads) if leads else "none"
print("%d bursts, error %.0f us, lead %s, json %s" % (len(t), err, lead, "same" if same else "differs"))
PY
}

out=$("$send" --list-sdr); rc=$?
check "--list-sdr: the device and its transmit ranges" "$rc: $(echo "$out" | head -3 | tr '\n' '|')" \
  "0: driver=vdxtest, label=Verdanox test transmitter, serial=0001|  transmit: 1 channel; 1 MHz to 6000 MHz|  sample rates 1.2 MHz, 2 MHz to 10 MHz; gain 0 to 40 dB; antennas TX CABLE|"

# T1 on the stream's clock, the native CS16, the default rate (1.2 MHz:
# the lowest at or above 8 samples a chip)
"$send" --rig rig.toml --sdr driver=vdxtest,path=t1.cs16 --ticks 20 --interval 0.1 --json > t1.jsonl 2> t1.err
check "T1, stream time: exit status" $? 0
check "T1: 20 of 20 decode, CRCs checked, bytes as --format radio" "$(decode t1.cs16 a)" "20 20"
t=$(timing t1.cs16.log t1.jsonl time_ns); echo "       T1 on the stream's clock: $t"
# (the clocks are compared anew where they drift 2 ms apart, which a busy
# machine can fake between reading one and the other)
check "T1: the stream times keep the schedule (within 3 ms), given ahead of time, as the JSON says" \
  "$(echo "$t" | sed -E 's/error ([0-9]{1,3}|[0-2][0-9]{3}) us/within/; s/lead ([2-9][0-9]|10[0-5]) ms/lead ok/')" \
  "20 bursts, within, lead ok, json same"
check "T1: each record's time is its burst's on the air (within 3 ms)" "$(python3 - <<'PY'
import datetime, json
log = [dict(kv.split("=") for kv in l.split()[3:]) for l in open("t1.cs16.log") if l.startswith("burst")]
sent = [json.loads(l) for l in open("t1.jsonl")]
on = [int(b["wall_ms"]) + (int(b["time_ns"]) - int(b["arrived_ns"])) / 1e6 for b in log]
got = [datetime.datetime.strptime(s["time"], "%Y-%m-%dT%H:%M:%S.%f%z").timestamp() * 1e3 for s in sent]
print(max(abs(g - o) for g, o in zip(got, on)) <= 3)
PY
)" "True"
check "T1: the device's settings" "$(head -1 t1.cs16.log)" "setup CS16 rate=1200000 centre=868950000 gain=0 antenna=TX correction=0"
check "T1: the start-up lines" "$(grep -c '^verdanox-send: SDR vdxtest Verdanox test transmitter (driver=vdxtest,path=t1.cs16): 868.95 MHz, 1.2 MHz sample rate, gain 0 dB (0 to 40), antenna TX, native CS16 samples, bursts on the stream.s clock$' t1.err) $(grep -c '^verdanox-send: duty cycle in 868.7-869.2 MHz (T1): the meters ask for 15.6 % of the time on air (562 s an hour), the band allows 0.1 % (3.6 s), 0 s of it used in the last hour: telegrams past it are held back$' t1.err)" "1 1"
check "T1: the records" "$(python3 -c 'import json,sys
r=[json.loads(l) for l in open("t1.jsonl")]
print(len(r), {(x["radio"], x["channel_hz"], x["burst_time"], x["held"], x["written"]) for x in r}, sorted({x["air_ms"] for x in r}))')" \
  "20 {('t1', 868950000, 'stream', False, True)} [14.6, 17.6]"

# the host's clock (no stream time), a native format the modulator does
# not render (CF32, converted by the driver); bursts 3 and 4 fail: told
# once, counted as not sent, the device opened again
"$send" --rig rig.toml --sdr driver=vdxtest,path=h.cf32,format=CS12,time=0,fail=3-4 --ticks 10 --interval 0.1 --json \
  > h.jsonl 2> h.err
check "failing device: exit status 3" $? 3
check "failing device: told once, back once, counted" "$(grep -c 'not responding (the transmit stream failed: STREAM_ERROR): telegrams are not being sent$' h.err) $(grep -c 'is back: telegrams are being sent again$' h.err) $(grep -c '^verdanox-send: 8 telegrams sent, 2 not sent$' h.err)" "1 1 1"
check "failing device: the records" "$(python3 -c 'import json
print(" ".join("%s:%s" % (r["written"], r["burst_time"]) for r in map(json.loads, open("h.jsonl"))))')" \
  "True:host True:host False:host False:host True:host True:host True:host True:host True:host True:host"
check "host clock: CF32 for the driver's CS12, 8 of 8 decode" "$(grep -c '^setup CF32 ' h.cf32.log) $(decode h.cf32 a)" "3 8 8"
t=$(timing h.cf32.log h.jsonl arrived_ns); echo "       T1 on the host's clock: $t"
check "host clock: each burst arrives within 20 ms of its time" \
  "$(echo "$t" | sed -E 's/error ([0-9]{1,4}|1[0-9]{4}) us/within/; s/, lead.*//')" "8 bursts, within"

# C1 in frame format B, native CS8 (as HackRF), gain, correction, antenna
"$send" --rig rig.toml --sdr driver=vdxtest,path=c1.cs8,format=CS8,scale=127 --mode c1 --frame-format b --ticks 6 \
  --interval 0.1 --tx-gain 20 --ppm 1.5 --sdr-antenna CABLE -q 2>/dev/null
check "C1, format B, CS8: 6 of 6 decode; the settings" "$(decode c1.cs8 b) $(head -1 c1.cs8.log)" \
  "6 6 setup CS8 rate=1200000 centre=868950000 gain=20 antenna=CABLE correction=1.5"
# a full scale past the format's is clamped (the samples do not wrap); a
# stream that names no write size is written 1024 samples at a time; a
# format the stream lists is taken where the native one is none of ours
"$send" --rig one.toml --sdr driver=vdxtest,path=s.cs8,format=CS8,scale=1000,mtu=0 --ticks 1 -q 2> s.err
check "CS8 full scale 1000: said, peak within the format, 21 writes of 21120 samples" "$(grep -c 'full scale of 1000, outside what its samples hold: 127 is used$' s.err) $(python3 -c '
import sys; d = open("s.cs8", "rb").read(); print(max(abs(b - 256 if b > 127 else b) for b in d))') $(grep -o 'samples=.*' s.cs8.log)" \
  "1 64 samples=21120 writes=21"
"$send" --rig one.toml --sdr driver=vdxtest,path=f.x,format=CS12,formats=CS12:CS16 --ticks 1 -q 2>/dev/null
check "native CS12, CS16 listed: CS16" "$(head -1 f.x.log | cut -d' ' -f1-2)" "setup CS16"
"$send" --rig rig.toml --sdr driver=vdxtest,path=p.cs16,correction=0 --ppm 10 --ticks 1 -q 2>/dev/null
check "--ppm on a device without correction: the tuning carries it" "$(head -1 p.cs16.log | grep -o 'centre=[0-9]*')" \
  "centre=868941311"

# the duty cycle: 0.001 % is 36 ms an hour, two mode 7 bursts of 17.6 ms
# (the runs above used the same transmitter's account: it starts anew)
rm -rf "$XDG_STATE_HOME"
"$send" --sdr driver=vdxtest --duty-cycle 0.001 --ticks 5 --interval 0.1 --rig one.toml > d.txt 2> d.err
check "duty cycle: exit status 0, 3 held" "$?: $(grep -c ', sent$' d.txt) $(grep -c ', held for duty cycle$' d.txt)" "0: 2 3"
check "duty cycle: the lines" "$(grep -c -e '--duty-cycle allows 0.001 % (0.036 s), the band 0.1 %, 0 s of it used in the last hour: telegrams past it are held back$' d.err) $(grep -c '^verdanox-send: 2 telegrams sent, 0 not sent; 3 held for duty cycle$' d.err)" "1 1"
"$send" --sdr driver=vdxtest,path=d2.cs16 --duty-cycle 0.001 --ticks 5 --interval 0.1 --rig one.toml -q 2> d2.err
check "duty cycle: the next run, the device named otherwise, finds the hour used up in the one account" "$(grep -c -e 'the band 0.1 %, 0.0352 s of it used in the last hour: telegrams' d2.err) $(tail -1 d2.err) $(ls "$XDG_STATE_HOME/verdanox")" \
  "1 verdanox-send: 0 telegrams sent, 0 not sent; 5 held for duty cycle duty-vdxtest-0001"
# two runs at once on the device: the account keeps both runs' bursts
account=$XDG_STATE_HOME/verdanox/duty-vdxtest-0001
rm -f "$account"
"$send" --sdr driver=vdxtest --ticks 10 --interval 0.1 --rig one.toml -q 2>/dev/null & p1=$!
"$send" --sdr driver=vdxtest --ticks 10 --interval 0.1 --rig one.toml -q 2>/dev/null & p2=$!
wait $p1 $p2
check "two runs at once: 20 bursts in the account" "$(grep -c '^868700000 ' "$account")" 20
# a burst a day ahead (the clock set back) is said and left out; a FIFO, a
# link to /dev/zero or a file past 1 MiB is said and taken as empty, never
# read without bound or waited on
now=$(python3 -c 'import time; print(int(time.time() * 1e6))')
printf 'verdanox duty-cycle account 1\n868700000 %d %d\n' $((now + 86400000000)) $((now + 86403599000)) > "$account"
"$send" --sdr driver=vdxtest --ticks 2 --interval 0.1 --rig one.toml -q 2> fut.err
check "a burst in the future: said, left out" "$?: $(grep -c 'holds 1 burst that starts after now (the clock was set back since?): left out$' fut.err) $(grep -c '^868700000 ' "$account") $(grep -c " $((now + 86400000000)) " "$account")" "0: 1 2 0"
for bad in fifo zero big; do
  rm -f "$account"
  case $bad in
    fifo) mkfifo "$account" ;;
    zero) ln -s /dev/zero "$account" ;;
    big) { echo 'verdanox duty-cycle account 1'; head -c 1100000 /dev/zero | tr '\0' '#'; } > "$account" ;;
  esac
  timeout 20 "$send" --sdr driver=vdxtest --ticks 1 --rig one.toml -q 2> bad.err
  check "account that is a $bad: said, taken as empty, written anew" "$?: $(grep -c -e 'is not a regular file: it is taken as empty' -e 'is larger than 1 MiB, more than any sub-band.s limit leaves in an hour: it is taken as empty' bad.err) $(grep -c '^868700000 ' "$account")" "0: 1 1"
done
# "each", three meters due together, a gap of 1 ms: the gap makes room
# for a burst, and every meter is sent in turn
printf '[schedule]\nmode = "each"\ninterval = 1.0\ngap = 0.001\n' > each.toml
for a in 9858705634120107 9858715634120107 9858725634120107; do printf '[[meter]]\naddress = "%s"\n' $a >> each.toml; done
"$send" --sdr driver=vdxtest --rig each.toml --ticks 6 --duty-cycle 10 --duty-cycle-override --json 2> each.err > each.jsonl
check "each, gap 1 ms: raised, told, every meter sent in turn" "$?: $(grep -c 'the gap of 0.001 s leaves no room for the longest burst, 7.28 ms on the air: telegrams go at least 13 ms apart on the SDR' each.err) $(python3 -c 'import json
print(" ".join(r["id"][-1] + ("" if r["written"] and not r["transmitter_busy"] else "!") for r in map(json.loads, open("each.jsonl"))))')" \
  "0: 1 0 1 2 0 1 2"
err=$("$send" --sdr driver=vdxtest --duty-cycle 5 --ticks 1 --rig one.toml 2>&1); rc=$?
check "--duty-cycle above the band's" "$rc: $err" \
  "2: verdanox-send: --duty-cycle 5 is above the 0.1 % that 868.7-869.2 MHz allows: only with --duty-cycle-override"
# two sub-bands: 0.5 % lowers S1's 1 % and leaves T1's 0.1 %; with the
# override it raises T1's alone, which the one warning names; the meters'
# radio modes are taken (no word of a stick's own mode)
printf '[[meter]]\naddress = "9858705634120103"\nradio = "t1"\n[[meter]]\naddress = "9858715634120103"\nradio = "s1"\n' > two.toml
"$send" --sdr driver=vdxtest,path=two --duty-cycle 0.5 --ticks 2 --rig two.toml -q 2> two.err
check "two sub-bands, --duty-cycle 0.5: the limits, no warning" "$?: $(grep -c -e 'MHz (T1): .*the band allows 0.1 %' -e 'MHz (S1): .*--duty-cycle allows 0.5 %' two.err) $(grep -c -e warning -e stick two.err)" "0: 2 0"
err=$("$send" --sdr driver=vdxtest,path=two --duty-cycle 0.5 --duty-cycle-override --ticks 1 --rig two.toml -q 2>&1)
check "two sub-bands, override: the one warning" "$(echo "$err" | grep warning)" \
  "verdanox-send: warning: --duty-cycle-override: 0.5 % in 868.7-869.2 MHz, where ETSI EN 300 220 allows 0.1 %: transmit only into a cable with attenuation or a shielded box"
err=$("$send" --sdr driver=vdxtest --duty-cycle 5 --duty-cycle-override --ticks 1 -q --rig one.toml 2>&1); rc=$?
check "--duty-cycle-override: the warning" "$rc: $(echo "$err" | grep '^verdanox-send: warning')" \
  "0: verdanox-send: warning: --duty-cycle-override: 5 % in 868.7-869.2 MHz, where ETSI EN 300 220 allows 0.1 %: transmit only into a cable with attenuation or a shielded box"

# refused, with the reason
while IFS='|' read -r rc what args; do
  eval "\"$send\" --ticks 1 --rig one.toml $args" >/dev/null 2>&1
  check "$what" $? "$rc"
done <<'CASES'
2|--duty-cycle without --sdr|--duty-cycle 0.05
2|--sdr with --stick|--sdr driver=vdxtest --stick VX1
2|--duty-cycle-override alone|--sdr driver=vdxtest --duty-cycle-override
2|T1 in frame format B|--sdr driver=vdxtest --frame-format b
1|no such device|--sdr driver=none
CASES
sed 's/"s1"/"n"/' two.toml > n.toml  # 169 and 868 MHz
err=$("$send" --sdr driver=vdxtest,rate=250000 --sdr-rate 250000 --ticks 1 --rig one.toml -q 2>&1)
check "--sdr-rate below 8 samples a chip: warned" "$(echo "$err" | grep warning)" \
  "verdanox-send: warning: --sdr-rate 250000 gives 2.5 samples a chip at the meters' fastest chip rate (100000 chips a second): receivers' decoders need several, the default rate gives at least 8"
for c in "--sdr-rate 150000|2: verdanox-send: --sdr-rate 150000 is too low: the meters' signals reach 100000 Hz from the centre, 868.95 MHz (|offset| + deviation + chip rate / 2), which must stay below half the sample rate" \
    "--sdr-rate 1500000|1: verdanox-send: cannot use SDR driver=vdxtest: the SDR does not offer 1.5 MHz (it offers 1.2 MHz, 2 MHz to 10 MHz)" \
    "--tx-gain 50|1: verdanox-send: cannot use SDR driver=vdxtest: --tx-gain 50 dB is outside the SDR's 0 to 40 dB" \
    "--sdr-antenna RX|1: verdanox-send: cannot use SDR driver=vdxtest: the SDR has no antenna RX (it has TX, CABLE)" \
    "--sdr driver=vdxtest,format=CS12,formats=CS12:CU8|1: verdanox-send: cannot use SDR driver=vdxtest,format=CS12,formats=CS12:CU8: the SDR's transmit stream takes none of CS16, CS8 and CF32 (it offers CS12, CU8)" \
    "--rig n.toml|2: verdanox-send: the meters' channels lie 699.544 MHz apart (169.406 to 868.95 MHz): one stream would need 874.68 MHz of sample rate, at most 200 MHz is used; send them in separate runs"; do
  err=$("$send" --sdr driver=vdxtest --ticks 1 --rig one.toml ${c%%|*} 2>&1); rc=$?
  check "${c%%|*}" "$rc: $err" "${c#*|}"
done

[ $fail -eq 0 ] && echo "verdanox-send through the test SDR: all checks passed"
exit $fail
