#!/usr/bin/env python3
"""Writes digests.txt: MD5 and SHA-1 of generated messages, from hashlib.

Each line: kind length seed md5 sha1. Kind "lcg" is the byte stream of the
32-bit generator x = 1664525 x + 1013904223 (mod 2^32) started at seed, one
byte (bits 24..31) per step; kind "zero" is that many zero bytes.
"""
import hashlib

def lcg_bytes(n, seed):
    x = seed
    out = bytearray(n)
    for i in range(n):
        x = (1664525 * x + 1013904223) & 0xffffffff
        out[i] = x >> 24
    return bytes(out)

lines = []
for n in [0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4095, 65536, 100003, 1 << 20]:
    for seed in [1, 12345]:
        data = lcg_bytes(n, seed)
        lines.append("lcg %d %d %s %s" % (n, seed, hashlib.md5(data).hexdigest(), hashlib.sha1(data).hexdigest()))
# Past 2^29 bytes the bit length needs more than 32 bits.
n = (1 << 29) + 5
m, s = hashlib.md5(), hashlib.sha1()
chunk = bytes(1 << 20)
left = n
while left:
    k = min(left, len(chunk))
    m.update(chunk[:k]); s.update(chunk[:k]); left -= k
lines.append("zero %d 0 %s %s" % (n, m.hexdigest(), s.hexdigest()))
with open("digests.txt", "w") as f:
    f.write("\n".join(lines) + "\n")
