#!/usr/bin/env bash
# Writes small valid MX, ROK and DXF files (faces, meshes, colours) as seeds for the model-reader fuzz harnesses:
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

# DXF meshes and colours: a layer table, a polyface mesh (a quad with an invisible edge and a
# coloured triangle), a 3 x 3 polygon mesh closed in M, and a face with its codes reversed.
def vertex(flags, x=0, y=0, z=0, extra=""):
    return f"  0\nVERTEX\n  8\nMesh\n 10\n{x}\n 20\n{y}\n 30\n{z}\n 70\n{flags}\n" + extra
def polyline(flags, m, n, body, colour=""):
    return (f"  0\nPOLYLINE\n  8\nMesh\n{colour} 66\n1\n 70\n{flags}\n 71\n{m}\n 72\n{n}\n" +
            body + "  0\nSEQEND\n")
tables = ("  0\nSECTION\n  2\nTABLES\n  0\nTABLE\n  2\nLAYER\n 70\n1\n"
          "  0\nLAYER\n  2\nMesh\n 70\n0\n 62\n-3\n  0\nENDTAB\n  0\nENDSEC\n")
polyface = "".join(vertex(192, x, y) for x, y in [(0, 0), (1, 0), (1, 1), (0, 1)])
polyface += vertex(128, extra=" 71\n1\n 72\n-2\n 73\n3\n 74\n4\n")
polyface += vertex(128, extra=" 62\n30\n 71\n1\n 72\n2\n 73\n3\n")
grid = "".join(vertex(64, m, n, m * n) for m in range(3) for n in range(3))
reversed_face = "  0\n3DFACE\n 62\n5\n" + "".join(
    f" {a}{n}\n{v}\n" for n in range(3, -1, -1) for a, v in [(3, 2), (2, n // 2), (1, n % 2)])
text = (tables + "  0\nSECTION\n  2\nENTITIES\n" + polyline(64, 4, 2, polyface, " 62\n256\n") +
        polyline(17, 3, 3, grid) + reversed_face + "  0\nENDSEC\n  0\nEOF\n")
open(f"{d}/dxf/meshes_colours.dxf", "w").write(text)
PY
echo "make-format-seeds: seeds in $dir/mx, $dir/rok, $dir/dxf"
