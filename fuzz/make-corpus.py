#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Sample frames are laid out as the sensor sends them: fourteen big-endian
header words (supply, laser temperature, laser power, auxiliary word, ten
IMU words), then four words per sample (count, raw distance, width, flags:
bit 15 scan state, bits 14..1 the time since the previous sample).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = [4817, 5336, 800, 0, 0xFFF3, 0x0011, 16384, 0xFB50, 0x0002, 0xFFFE, 0x0001, 310, 0xFF6F, 420]


def words(values):
    return struct.pack(">%dH" % len(values), *values)


def frame(counts, trailing=b"", scan_state=0):
    body = words(HEADER)
    for i, count in enumerate(counts):
        distance = 2000 + 7 * i           # 200.0 in plot units
        width = 120 + (i * 13) % 90
        flags = scan_state << 15 | (2 + i % 2) << 1
        body += words([count & 0xFFFF, distance, width, flags])
    return body + trailing


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


write("data-frame", "one-entry-36", frame([1000]))
write("data-frame", "one-entry-and-7-bytes-43", frame([1001], trailing=b"\xee" * 7))
write("data-frame", "forty-entries-348", frame(range(1002, 1042), scan_state=1))
write("data-frame", "count-wraps-60", frame([65534, 65535, 0, 1]))
write("data-frame", "sequence-break-68", frame([7, 8, 10, 11, 12]))

defaults = [0x0102, 100, 50, 200, 150, 1000, 1000, 0]
write("parameter-frame", "short-17", words(defaults + [11])[:17])
write("parameter-frame", "block-18", words(defaults + [11]))
write("parameter-frame", "packet-64", words(defaults + [65535]) + bytes(46))

for name, text in [("plain", "40"), ("blanks", " -7 "), ("trailing-letters", "12abc"),
                   ("too-large", "99999999999"), ("lowest", "-2147483648"), ("plus", "+120"),
                   ("tab-newline", "\t300\n"), ("empty", "")]:
    write("value-text", name, text.encode())
