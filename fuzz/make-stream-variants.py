#!/usr/bin/env python3
# Writes damaged variants of transport streams for the differential harness (differential.sh): each file
# is one byte that seeds the piece sizes, then a stream. From windows of the real streams given: the
# window as it is, cut, with junk, with bytes flipped, with packets of one PID lost (1, 15, 16, 31),
# duplicated (the same packet, or with another PCR), marked in error, joined to another window with and
# without the discontinuity flag; and random bytes, zeros, and 192- and 204-byte packets.
# usage: make-stream-variants.py OUTPUT_FOLDER COUNT SEED STREAM...
import os, random, sys

out, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
streams = []
for path in sys.argv[4:]:
    data = open(path, "rb").read()
    # A recording's stream starts at 3760; a .ts file at 0.
    streams.append(data[3760:] if data[:4] == b"TFrc" else data)
rng = random.Random(seed)
P = 188

def window():
    stream = rng.choice(streams)
    packets = len(stream) // P
    length = rng.choice([2, 5, 40, 300, 1500, 4000])
    start = rng.randrange(0, max(1, packets - length))
    return bytearray(stream[start * P:(start + length) * P])

def packets_of(data):
    return [data[i:i + P] for i in range(0, len(data) - P + 1, P)]

def pid(packet):
    return (packet[1] & 0x1F) << 8 | packet[2]

def damaged():
    data = window()
    kind = rng.randrange(14)
    if kind == 0:
        return data
    if kind == 1:  # bytes cut out
        at = rng.randrange(len(data)); del data[at:at + rng.randrange(1, 2000)]
    elif kind == 2:  # junk put in, some of it sync bytes a packet apart
        junk = bytearray(rng.randrange(256) for _ in range(rng.randrange(1, 3000)))
        for k in range(rng.randrange(6)):
            if k * P < len(junk): junk[k * P] = 0x47
        at = rng.randrange(len(data)); data[at:at] = junk
    elif kind == 3:  # bytes flipped: sync bytes, flags, counters, PIDs, anywhere
        for _ in range(rng.randrange(1, 12)):
            at = rng.randrange(len(data)) if rng.random() < 0.5 else rng.randrange(len(data) // P) * P + rng.randrange(6)
            data[at] ^= 1 << rng.randrange(8)
    elif kind == 4:  # packets of one PID lost
        ps = packets_of(data)
        if ps:
            target = pid(rng.choice(ps)); lose = rng.choice([1, 15, 16, 31]); kept = []
            for p in ps:
                if pid(p) == target and lose > 0 and rng.random() < 0.5: lose -= 1; continue
                kept.append(p)
            data = bytearray(b"".join(kept))
    elif kind == 5:  # a packet repeated, the same or with another PCR
        ps = packets_of(data)
        if ps:
            i = rng.randrange(len(ps)); copy = bytearray(ps[i])
            if rng.random() < 0.5 and copy[3] & 0x20 and copy[4] >= 7 and copy[5] & 0x10: copy[11] ^= 1
            ps.insert(i + 1, bytes(copy)); data = bytearray(b"".join(ps))
    elif kind == 6:  # marked in error
        ps = [bytearray(p) for p in packets_of(data)]
        for p in ps:
            if rng.random() < 0.05: p[1] |= 0x80
        data = bytearray(b"".join(ps))
    elif kind in (7, 8):  # two windows joined, the second one's first PCR flagged a discontinuity or not
        second = window()
        if kind == 8:
            for i in range(0, len(second) - P + 1, P):
                if second[i + 3] & 0x20 and second[i + 4] >= 1: second[i + 5] |= 0x80; break
        data += second
    elif kind == 9:  # random bytes, with sync bytes where packets would start
        data = bytearray(rng.randrange(256) for _ in range(rng.randrange(1, 20000)))
        for i in range(0, len(data), P):
            if rng.random() < 0.7: data[i] = 0x47
    elif kind == 10:
        data = bytearray(rng.randrange(0, 5000))
    elif kind == 11:  # 192-byte packets (a 4-byte prefix before each) and 204-byte ones (16 bytes after)
        ps = packets_of(data); size = rng.choice([192, 204])
        data = bytearray(b"".join((b"\0\0\0\0" + p if size == 192 else p + bytes(16)) for p in ps))
    elif kind == 12:  # cut inside the last packet
        del data[len(data) - rng.randrange(1, P):]
    else:  # several of the above at once
        for _ in range(3):
            at = rng.randrange(len(data)); data[at] ^= 0xFF
        at = rng.randrange(len(data)); del data[at:at + rng.randrange(1, 400)]
    return data

os.makedirs(out, exist_ok=True)
for index in range(count):
    with open(os.path.join(out, "%06d" % index), "wb") as f:
        f.write(bytes([rng.randrange(256)]) + bytes(damaged()))
