#!/usr/bin/env python3
"""Makes the stand-in device programs that the build embeds.

The real programs are device code supplied for the navigator; until they arrive, these files
stand in for them. Each stand-in has the real program's size and the fixed words that the tool
and its tests rely on; every other byte is deterministic filler, so running this script again
gives the same files byte for byte.

    python3 scripts/make_standin_images.py          # write the files
    python3 scripts/make_standin_images.py --check  # exit 1 if a committed file differs

To add an image, append a StandIn to IMAGES.
"""

import argparse
import pathlib
import struct
import sys
from dataclasses import dataclass, field

ROOT = pathlib.Path(__file__).resolve().parent.parent


@dataclass
class StandIn:
    path: str                 # relative to the repository root
    size: int
    seed: int                 # filler seed; variants of one program share it
    words: dict = field(default_factory=dict)   # offset -> little-endian 32-bit word
    bytes_: dict = field(default_factory=dict)  # offset -> byte

    def build(self) -> bytes:
        data = bytearray(filler(self.size, self.seed))
        for offset, value in self.words.items():
            struct.pack_into("<I", data, offset, value)
        for offset, value in self.bytes_.items():
            data[offset] = value
        return bytes(data)


def filler(size: int, seed: int) -> bytes:
    """xorshift32 bytes: reproducible everywhere, no library needed."""
    state = seed & 0xFFFFFFFF or 1
    out = bytearray()
    while len(out) < size:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out += struct.pack("<I", state)
    return bytes(out[:size])


# Boot program: vector table (initial stack pointer, entry address), reference clock word at
# 1,076 and four clock-dependent setting bytes. The two variants differ only there.
BOOT_VECTORS = {0: 0x00040000, 4: 0x00024125}
BOOT_SEED = 0x0B007C0D

IMAGES = [
    StandIn(
        path="transfer/data/boot_26mhz.bin",
        size=2796,
        seed=BOOT_SEED,
        words={**BOOT_VECTORS, 1076: 26_000_000},
        bytes_={696: 0x0C, 698: 0x01, 716: 0x19, 738: 0x32},
    ),
    StandIn(
        path="transfer/data/boot_16369khz.bin",
        size=2796,
        seed=BOOT_SEED,
        words={**BOOT_VECTORS, 1076: 16_369_000},
        bytes_={696: 0x13, 698: 0x00, 716: 0x0F, 738: 0x20},
    ),
]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the files on disk instead of writing them")
    args = parser.parse_args()
    status = 0
    for image in IMAGES:
        data = image.build()
        target = ROOT / image.path
        if args.check:
            if not target.exists() or target.read_bytes() != data:
                print(f"{image.path}: differs from what this script makes", file=sys.stderr)
                status = 1
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
            print(f"{image.path}: {len(data)} bytes")
    return status


if __name__ == "__main__":
    sys.exit(main())
