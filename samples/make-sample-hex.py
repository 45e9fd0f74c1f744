#!/usr/bin/env python3
"""Writes a sample pager firmware image as an Intel HEX file.

The bytes look like a small firmware: a reset and interrupt vector table, code
made of repeating instruction-like patterns, a version string and a message
table, and a checksum word at the end. They are made from a fixed seed, so the
same arguments always give the same file.

The file has the form the flasher sends record by record: an extended linear
address record (type 04) for the load address, data records of 16 bytes, a
shorter last data record, the end record, and CR LF after every line.

    python3 samples/make-sample-hex.py                       # samples/pager-demo.hex
    python3 samples/make-sample-hex.py --size 600 --out x.hex
"""

import argparse
import os
import sys

DEFAULT_OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pager-demo.hex")
DEFAULT_SIZE = 2600
DEFAULT_ADDRESS = 0x00010000
DEFAULT_SEED = 0x7A55
RECORD_BYTES = 16

VERSION = b"TARVEX PAGER FW 2.14 (demo build)\x00"
MESSAGES = [
    b"LOW BATTERY\x00",
    b"OUT OF RANGE\x00",
    b"MEMORY FULL\x00",
    b"NEW MESSAGE\x00",
    b"ALARM SET\x00",
]


class Lcg:
    """A small linear congruential generator: the same numbers on every machine."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0xFFFFFFFF
        return self.state >> 16

    def byte(self):
        return self.next() & 0xFF


def firmware(size, address, seed):
    rng = Lcg(seed)
    image = bytearray()
    # Vector table: reset and 15 interrupt entries, little-endian addresses
    # into the code that follows.
    code_start = address + 0x40
    for _ in range(16):
        target = code_start + 2 * (rng.next() % (size // 4))
        image += (target & 0xFFFF).to_bytes(2, "little") + ((target >> 16) & 0xFF).to_bytes(2, "little")
    image += VERSION
    for message in MESSAGES:
        image += message
    # Code: instruction-like groups of an opcode byte and operands, with a
    # few recurring opcodes as real code has.
    opcodes = [0x12, 0x22, 0x32, 0x74, 0x75, 0x78, 0x80, 0x90, 0xA3, 0xC2, 0xD2, 0xE4, 0xE5, 0xF0, 0xF5]
    while len(image) < size - 2:
        opcode = opcodes[rng.next() % len(opcodes)]
        image.append(opcode)
        for _ in range(rng.next() % 3):
            image.append(rng.byte())
    del image[size - 2:]
    # A checksum word over everything before it.
    image += (sum(image) & 0xFFFF).to_bytes(2, "little")
    return bytes(image)


def record(kind, offset, data):
    body = bytes([len(data), (offset >> 8) & 0xFF, offset & 0xFF, kind]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper() + "\r\n"


def intel_hex(image, address):
    lines = []
    upper = None
    for start in range(0, len(image), RECORD_BYTES):
        at = address + start
        if at >> 16 != upper:
            upper = at >> 16
            lines.append(record(0x04, 0, upper.to_bytes(2, "big")))
        # A record never runs past a 64 KiB boundary.
        room = 0x10000 - (at & 0xFFFF)
        chunk = image[start:start + min(RECORD_BYTES, room)]
        lines.append(record(0x00, at & 0xFFFF, chunk))
    lines.append(":00000001FF\r\n")
    return "".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=DEFAULT_SIZE, help="image size in bytes")
    parser.add_argument("--address", type=lambda s: int(s, 0), default=DEFAULT_ADDRESS,
                        help="load address (a multiple of 16)")
    parser.add_argument("--seed", type=lambda s: int(s, 0), default=DEFAULT_SEED)
    parser.add_argument("--out", default=DEFAULT_OUT, help="output file, - for stdout")
    args = parser.parse_args()
    if args.size < 256 or args.size % RECORD_BYTES == 0:
        parser.error("--size must be at least 256 and not a multiple of 16 (the last record is short)")
    if args.address % RECORD_BYTES or not 0 <= args.address + args.size <= 0xFFFFFFFF:
        parser.error("--address must be a multiple of 16 and the image must fit in 32 bits")
    text = intel_hex(firmware(args.size, args.address, args.seed), args.address)
    if args.out == "-":
        sys.stdout.buffer.write(text.encode("ascii"))
    else:
        with open(args.out, "wb") as out:
            out.write(text.encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
