#!/usr/bin/python3
"""Writes the seed inputs of fuzz_package_reader into corpus/fuzz_package_reader/.

The package is built here with Python's zlib and hashlib rather than with the
project's writer, so the seeds do not inherit a fault of the code under test.
The first byte of an input picks how fuzz_package_reader reads it (see there):
0 entries list, 1 entries area, 2 entries area with content digests made
right; every input is also loaded as a whole file image.
"""
import hashlib
import os
import struct
import zlib

SIGNATURE = b"Marrowfend LLC installer system"
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "fuzz_package_reader")


def record(name, content, packed=None, digest=None):
    if packed is None:
        packed = zlib.compress(content, 9)
    if digest is None:
        digest = hashlib.md5(content).digest()
    return struct.pack("<II", len(packed), len(name)) + digest + name + packed


def package(records, seal=0x5A):
    area = b"".join(records)
    head = SIGNATURE + bytes([seal])
    head += bytes(b ^ seal for b in head)
    head += struct.pack("<II", len(area), len(records)) + hashlib.md5(area).digest()
    return head + area


def program():
    # The signature text unsealed in the program's data, as in the real reader.
    return b"MZ\x90\x00" + bytes(60) + b"PE\x00\x00" + SIGNATURE + b"\x00" + bytes(32)


def entries_list(seal, entries):
    out = bytes([0, seal])
    for name, content in entries:
        out += bytes([len(name)]) + name + struct.pack("<H", len(content)) + content
    return out


SEEDS = {
    "image-two-entries": program()
    + package([record(b"readme.txt", b"Read me first.\r\n" * 4), record(b"setup.ini", b"[Setup]\r\n")])
    + bytes(64),
    "image-empty-package": program() + package([], seal=0x00),
    "image-seal-ff-duplicate-names": package(
        [record(b"a.txt", b"first"), record(b"a.txt", b"second"), record(b"\xe9t\xe9", b"x" * 300)],
        seal=0xFF,
    ),
    "image-unsealed-only": program() + SIGNATURE + bytes(40),
    "image-stored-block": package([record(b"stored.bin", bytes(range(200)), packed=zlib.compress(bytes(range(200)), 0))]),
    "entries-list": entries_list(
        0x5A, [(b"readme.txt", b"hello world\n"), (b"driver.sys.amd64", bytes(range(64)) * 3), (b"readme.txt", b"again")]
    ),
    "entries-list-high-bytes": entries_list(0x00, [(b"\xff\x80", b"z" * 500), (b"~", b"tilde"), (b"A", b"a")]),
    "area-raw": bytes([1, 2, 0x5A])
    + record(b"one.txt", b"one" * 10)
    + record(b"two.txt", b"two", digest=bytes(16)),
    "area-fixed-digests": bytes([2, 3, 0x11])
    + record(b"x.txt", b"x" * 1000, digest=bytes(16))
    + record(b"y.bin", bytes(range(256)), digest=bytes(16))
    + record(b"x.txt", b"later x", digest=bytes(16)),
    "area-fixed-digests-truncated-stream": bytes([2, 1, 0x11])
    + struct.pack("<II", 20, 5)
    + bytes(16)
    + b"t.txt"
    + zlib.compress(b"truncated " * 20, 9)[:20],
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        assert len(data) < 4096, name
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {OUT}")


if __name__ == "__main__":
    main()
