#!/usr/bin/env python3
"""Writes small LWOB files and Metasequoia document bodies as seeds for the lwo_reader and
mqo_reader fuzz harnesses: scripts/make-lwo-mqo-seeds.py [DIR], default fuzz-corpus. The MQO
seeds leave out the two header lines, which the harness adds."""
import os
import struct
import sys


def chunk(cid, body):
    return cid + struct.pack(">I", len(body)) + body


def name(s):
    b = s.encode() + b"\0"
    return b + (b"\0" if len(b) % 2 else b"")


def lwo(chunks):
    body = b"LWOB" + b"".join(chunks)
    return b"FORM" + struct.pack(">I", len(body)) + body


def sub(cid, body):
    return cid + struct.pack(">H", len(body)) + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "fuzz-corpus"
    points = struct.pack(">15f", 0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0.5, 0.5, 2)
    lwo_seeds = {
        "box.lwo": lwo([
            chunk(b"SRFS", name("Body") + name("Trim")),
            chunk(b"PNTS", points),
            chunk(b"POLS", struct.pack(">15h", 4, 0, 1, 2, 3, 1, 3, 0, 1, 4, -2, 1, 3, 1, 2) +
                  struct.pack(">2h", 4, 2)),
            chunk(b"SURF", name("Body") + sub(b"COLR", bytes([200, 100, 50, 0])) +
                  sub(b"FLAG", b"\0\4") + sub(b"TIMG", name("wood.iff"))),
            chunk(b"SURF", name("Trim") + sub(b"COLR", bytes([1, 2, 3, 0]))),
        ]),
        "fan.lwo": lwo([
            chunk(b"SRFS", name("A")),
            chunk(b"PNTS", points),
            chunk(b"POLS", struct.pack(">7h", 5, 0, 1, 2, 3, 4, 1)),
            chunk(b"CRVS", struct.pack(">4h", 2, 0, 1, 1)),
        ]),
    }
    mqo_seeds = {
        "box.mqo": "\r\n".join([
            "Material 2 {",
            '\t"wood" col(0.800 0.400 0.200 1.000) tex("C:\\t\\wood.bmp")',
            '\t"plain" col(1.000 1.000 1.000 0.500)',
            "}",
            'Object "box" {',
            "\tmirror 1",
            "\tvertex 4 {",
            "\t\t10 20 30", "\t\t0 0 0", "\t\t10 0 0", "\t\t0 10 0",
            "\t}",
            "\tface 3 {",
            "\t\t4 V(0 1 2 3) M(0) UV(0 0 1 0 1 1 0 1)",
            "\t\t3 V(0 1 2) M(1)",
            "\t\t2 V(2 3) M(0) UV(0 0 1 1)",
            "\t}",
            "}",
            "Eof", ""]).encode(),
    }
    for sub_dir, seeds in (("lwo_reader", lwo_seeds), ("mqo_reader", mqo_seeds)):
        path = os.path.join(out, sub_dir)
        os.makedirs(path, exist_ok=True)
        for file_name, data in seeds.items():
            with open(os.path.join(path, file_name), "wb") as f:
                f.write(data)
        print(f"make-lwo-mqo-seeds: {len(seeds)} files in {path}")


if __name__ == "__main__":
    main()
