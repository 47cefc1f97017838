#!/usr/bin/env python3
"""An FM discriminator for I/Q captures, independent of the modulator: for
each telegram record (first and last sample, radio mode, channel, carrier
offset and centre) it mixes the carrier down, adds up the phase steps over
the middle half of each chip, slices their sign, finds the synchronisation
word after the preamble, undoes the coding and prints the frame as sent
(with its CRCs), one line of upper-case hexadecimal per telegram ("-" where
nothing decodes).

    fm_discriminator.py CAPTURE RECORDS.jsonl [CAPTURE_FORMAT]
"""
import cmath
import json
import math
import struct
import sys

# EN 13757-4: chip rate, deviation, coding, sync words of frame formats A and B
S_SYNC = "000111011010010110"
MODES = {
    "s1": (32768, 50e3, "manchester", S_SYNC, None),
    "s2": (32768, 50e3, "manchester", S_SYNC, None),
    "t1": (100000, 50e3, "3of6", "0000111101", None),
    "r2": (4800, 6e3, "manchester", S_SYNC, None),
    "c1": (100000, 45e3, "nrz", format(0x543D54CD, "032b"), format(0x543D543D, "032b")),
    "f": (2400, 5.5e3, "nrz", format(0xF68D, "016b"), format(0xF672, "016b")),
    "n": (4800, 2.4e3, "nrz", format(0xF68D, "016b"), format(0xF672, "016b")),
}
THREE_OF_SIX = {int(w, 2): n for n, w in enumerate(
    "010110 001101 001110 001011 011100 011001 011010 010011 "
    "101100 100101 100110 100011 110100 110001 110010 101001".split())}


def samples(data, fmt):
    if fmt == "cu8":
        return lambda n: complex(data[2 * n] - 127.5, data[2 * n + 1] - 127.5)
    if fmt == "cs8":
        return lambda n: complex(*struct.unpack_from("<bb", data, 2 * n))
    if fmt == "cs16":
        return lambda n: complex(*struct.unpack_from("<hh", data, 4 * n))
    return lambda n: complex(*struct.unpack_from("<ff", data, 8 * n))


def chips(x, first, last, rate, chip_rate, offset):
    """The sign of the phase steps x[n] x[n-1]* over the middle half of each
    chip's samples, the channel mixed down to 0 Hz."""
    per_chip = rate / chip_rate
    turn = -2 * math.pi * offset / rate
    step = cmath.exp(1j * turn)
    out = []
    k = 0
    while first + (k + 1) * per_chip <= last + 1.5:
        start = first + k * per_chip
        lo = math.ceil(start + per_chip / 4)
        hi = max(lo, math.ceil(start + 3 * per_chip / 4) - 1)
        rot = cmath.exp(1j * turn * (lo - 1))
        z, prev = 0j, x(lo - 1) * rot
        for n in range(lo, hi + 1):
            rot *= step
            cur = x(n) * rot
            z += cur * prev.conjugate()
            prev = cur
        out.append("1" if cmath.phase(z) > 0 else "0")
        k += 1
    return "".join(out)


def decode(c, coding, count):
    """`count` bytes from the chips, or None on a coding error."""
    out = bytearray()
    step = {"nrz": 8, "manchester": 16, "3of6": 12}[coding]
    for i in range(count):
        piece = c[i * step:(i + 1) * step]
        if len(piece) < step:
            return None
        if coding == "nrz":
            out.append(int(piece, 2))
        elif coding == "manchester":
            pairs = [piece[j:j + 2] for j in range(0, 16, 2)]
            if any(p not in ("01", "10") for p in pairs):
                return None
            out.append(int("".join("1" if p == "01" else "0" for p in pairs), 2))
        else:
            hi, lo = THREE_OF_SIX.get(int(piece[:6], 2)), THREE_OF_SIX.get(int(piece[6:], 2))
            if hi is None or lo is None:
                return None
            out.append(hi << 4 | lo)
    return bytes(out)


def frame(c, mode):
    chip_rate, dev, coding, sync_a, sync_b = MODES[mode]
    for sync, fmt in ((sync_a, "a"), (sync_b, "b")):
        at = c.find(sync) if sync else -1
        if at < 8 or c[at - 8:at] not in ("01010101", "10101010"):  # after preamble pairs
            continue
        body = c[at + len(sync):]
        head = decode(body, coding, 1)
        if head is None:
            return None
        length = head[0]
        total = length + 1 if fmt == "b" else length + 1 + 2 + 2 * ((length - 9 + 15) // 16)
        return decode(body, coding, total)
    return None


def main():
    data = open(sys.argv[1], "rb").read()
    x = samples(data, sys.argv[3] if len(sys.argv) > 3 else "cu8")
    for line in open(sys.argv[2]):
        r = json.loads(line)
        chip_rate, dev = MODES[r["radio"]][:2]
        offset = r["channel_hz"] + r.get("freq_offset_hz", 0) - r["centre_hz"]
        c = chips(x, r["first_sample"], r["last_sample"], r["sample_rate"], chip_rate, offset)
        f = frame(c, r["radio"])
        print(f.hex().upper() if f else "-")


if __name__ == "__main__":
    main()
