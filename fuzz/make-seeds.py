#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: accepted headers with ordinary and awkward texts, and near misses."""
import pathlib
import struct

here = pathlib.Path(__file__).resolve().parent
corpus = here / "corpus"
corpus.mkdir(exist_ok=True)


def header(version=0x5000, channel=b"ABC", name=b"News", description=b"Local news", sync=0x47,
           service_type=0, length=None, total=4188, tail=b""):
    block = bytearray(max(total, 3761))
    block[0:4] = b"TFrc"
    struct.pack_into(">H", block, 4, version)
    struct.pack_into(">BBHH", block, 8, 1, 15, 12, service_type)
    struct.pack_into(">HHHHH", block, 18, 0x0102, 0x0064, 0x00A0, 0x00A0, 0x00A1)
    block[28:28 + len(channel)] = channel
    struct.pack_into(">H", block, 64, 3)
    struct.pack_into(">H", block, 68, 0x2174)
    struct.pack_into(">HII", block, 78, 0x1234, 0xC0790C2D, 0xC0790E00)
    name_length = len(name) if length is None else length
    block[89] = name_length
    block[91:91 + len(name)] = name
    block[91 + name_length:91 + name_length + len(description)] = description
    block[3760] = sync
    return bytes(block[:total]) + tail


seeds = {
    "example": header(),
    "version-5010": header(version=0x5010),
    "radio": header(service_type=1),
    "unknown-type": header(service_type=7),
    "smallest": header(total=3761),
    "between": header(total=4000),
    "comma-in-channel": header(channel=b"News, Sport"),
    "quotes-in-title": header(name=b'The "Big" Match'),
    "line-breaks": header(description=b"one\r\ntwo\nthree"),
    "zero-in-name": header(name=b"Ne\0ws", description=b"after"),
    "empty-name": header(name=b"", description=b"only a description"),
    "long-name-length": header(name=b"x" * 255),
    "name-after-block": header(tail=b"News, late [HD].rec"),
    "bad-sync": header(sync=0x00),
    "bad-version": header(version=0x0050),
    "lowercase-magic": b"tfrc" + header()[4:],
    "too-short": header()[:3760],
    "empty": b"",
}
for name, data in seeds.items():
    (corpus / name).write_bytes(data)
print(f"{len(seeds)} seeds in {corpus}")
