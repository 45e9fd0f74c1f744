#!/usr/bin/env python3
"""Prints the data an Intel HEX file puts in memory, independent of how the
file splits it into records: one line per 16-byte-aligned block of contiguous
bytes, "AAAAAAAA HEXBYTES". Two files load the same bytes at the same
addresses exactly when this prints the same for both.

    hexdata.py FILE          exit 1 on a malformed file or a byte given twice
"""

import sys


def load(path):
    memory = {}
    base = 0
    ended = False
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line:
            continue
        if ended:
            raise ValueError(f"line {number}: data after the end record")
        if not line.startswith(":"):
            raise ValueError(f"line {number}: no ':'")
        raw = bytes.fromhex(line[1:])
        if len(raw) < 5 or len(raw) != raw[0] + 5:
            raise ValueError(f"line {number}: length does not match")
        if sum(raw) & 0xFF:
            raise ValueError(f"line {number}: bad checksum")
        count, offset, kind, data = raw[0], (raw[1] << 8) | raw[2], raw[3], raw[4:-1]
        if kind == 0x00:
            for i, byte in enumerate(data):
                address = base + ((offset + i) & 0xFFFF)
                if address in memory:
                    raise ValueError(f"line {number}: byte at 0x{address:08X} given twice")
                memory[address] = byte
        elif kind == 0x01:
            ended = True
        elif kind == 0x02 and count == 2:
            base = int.from_bytes(data, "big") << 4
        elif kind == 0x04 and count == 2:
            base = int.from_bytes(data, "big") << 16
        elif kind in (0x03, 0x05):
            pass
        else:
            raise ValueError(f"line {number}: record type {kind:02X} with {count} bytes")
    if not ended:
        raise ValueError("no end record")
    return memory


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        memory = load(sys.argv[1])
    except (OSError, ValueError) as error:
        print(f"{sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    blocks = {}
    for address in sorted(memory):
        blocks.setdefault(address & ~0xF, []).append((address, memory[address]))
    for cells in blocks.values():
        # A gap inside a block splits it, so a hole never goes unnoticed.
        run_start, run = cells[0][0], bytearray()
        for address, byte in cells:
            if address != run_start + len(run):
                print(f"{run_start:08X} {run.hex().upper()}")
                run_start, run = address, bytearray()
            run.append(byte)
        print(f"{run_start:08X} {run.hex().upper()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
