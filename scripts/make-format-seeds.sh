#!/usr/bin/env bash
# Writes small valid MX, ROK and DXF files as seeds for the model-reader fuzz harnesses:
# scripts/make-format-seeds.sh [DIR], default fuzz-corpus; files go to DIR/mx, DIR/rok, DIR/dxf.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-fuzz-corpus}
mkdir -p "$dir/mx" "$dir/rok" "$dir/dxf"
python3 - "$dir" <<'PY'
import struct, sys
d = sys.argv[1]

# MX: two quads in groups 0 and 1, the first with texture record 0.
def quad(texture, group):
    b = b"".join(struct.pack("<4f", x, y, 0, 1) for x, y in [(0, 0), (1, 0), (1, 1), (0, 1)])
    b += b"".join(struct.pack("<4f", 0, 0, 1, 0) for _ in range(4))
    b += struct.pack("<8f", 0, 0, 256, 0, 256, 128, 0, 128)
    return b + struct.pack("<Ihh", 0x00FF8000, texture, group)
quads = quad(0, 0) + quad(-1, 1)
names = b"wood".ljust(16, b"\0") + b"".ljust(16, b"\0")
header = b"MXF\0" + struct.pack("<7I", 256, 60, 32, len(quads), 92, len(names), 92 + len(quads))
open(f"{d}/mx/two_quads.mx", "wb").write(header + bytes(60) + quads + names)

# ROK: a triangle and a quad over four points.
lines = ["ROK", "POINT"]
for i, (x, y, z) in enumerate([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]):
    lines += [str(i + 1), "0", "0", "0", "0", str(x), str(y), str(z)]
lines.append("LINE0")
for a, b in [(1, 2), (2, 3), (3, 4), (4, 1), (1, 3)]:
    lines += [str(a), str(b), "0", "0"]
lines += ["FACE0", "3", "-1", "1", "1", "2", "5", "4", "0", "2", "1", "2", "3", "4", "END00",
          "x", "PALC0", "13", "0"]
for e in range(13):
    lines += [str(20 * e)] * 6 + ["0"]
lines.append("ENDP0")
open(f"{d}/rok/two_faces.rok", "w", newline="").write("\r\n".join(lines) + "\r\n")

# DXF: two 3DFACEs, the second with code 70 after its corners.
def face(z, tail=""):
    s = "  0\n3DFACE\n  8\n0\n"
    for n, (x, y) in enumerate([(0, 0), (1, 0), (1, 1), (0, 1)]):
        s += f" 1{n}\n{x}\n 2{n}\n{y}\n 3{n}\n{z}\n"
    return s + tail
text = "  0\nSECTION\n  2\nENTITIES\n" + face(0) + face(1, " 70\n15\n") + "  0\nENDSEC\n  0\nEOF\n"
open(f"{d}/dxf/two_faces.dxf", "w").write(text)
PY
echo "make-format-seeds: seeds in $dir/mx, $dir/rok, $dir/dxf"
