#!/usr/bin/env python3
"""Writes protocol/data/patch_image.bin, a STAND-IN for the navigator's RAM patch program.

The real patch program is device code supplied for the navigator; until it is supplied, the
tool embeds this stand-in so that the upload path (15 packets to 0x26000, run at 0x2622D) can be
built and exercised. The stand-in has the real image's length (14,604 bytes) and is fully
deterministic: a fixed marker text at offset 0, a fixed marker word at the entry offset 0x22D,
and pseudo-random filler (SHA-256 in counter mode) everywhere else. It runs nothing on a device.

Replace the .bin with the supplied image (same name, unchanged bytes) when it arrives.

Usage: scripts/make_patch_standin.py [output path]
"""
import hashlib
import os
import sys

IMAGE_LENGTH = 14604
LOAD_ADDRESS = 0x26000
ENTRY_ADDRESS = 0x2622D
MARKER = b"CADDORA PATCH STAND-IN, NOT DEVICE CODE\0"
ENTRY_WORD = bytes.fromhex("5354414e44494e21")  # "STANDIN!"


def build() -> bytes:
    filler = bytearray()
    counter = 0
    while len(filler) < IMAGE_LENGTH:
        filler += hashlib.sha256(b"caddora-patch-standin" + counter.to_bytes(4, "little")).digest()
        counter += 1
    image = bytearray(filler[:IMAGE_LENGTH])
    image[0:len(MARKER)] = MARKER
    entry = ENTRY_ADDRESS - LOAD_ADDRESS
    image[entry:entry + len(ENTRY_WORD)] = ENTRY_WORD
    assert len(image) == IMAGE_LENGTH
    return bytes(image)


def main() -> int:
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "protocol", "data", "patch_image.bin")
    out = sys.argv[1] if len(sys.argv) > 1 else default
    data = build()
    with open(out, "wb") as f:
        f.write(data)
    print(f"{os.path.normpath(out)}: {len(data)} bytes, sha256 {hashlib.sha256(data).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
