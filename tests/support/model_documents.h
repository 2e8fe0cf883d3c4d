// Small model files for tests that run the tools on real files.
#pragma once

namespace wz::testing {

// A Metasequoia document: a cube of side 10 from the origin in a light red material, its faces
// showing outwards once the reader has turned them into the library's winding.
inline constexpr char kMqoCube[] =
    "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\nMaterial 1 {\r\n"
    "\t\"red\" col(1.000 0.200 0.200 1.000) dif(0.800)\r\n}\r\nObject \"cube\" {\r\n"
    "\tvertex 8 {\r\n\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t0 10 0\r\n\t\t10 10 0\r\n\t\t0 0 10\r\n"
    "\t\t10 0 10\r\n\t\t0 10 10\r\n\t\t10 10 10\r\n\t}\r\n\tface 6 {\r\n"
    "\t\t4 V(1 3 2 0) M(0)\r\n\t\t4 V(6 7 5 4) M(0)\r\n\t\t4 V(2 6 4 0) M(0)\r\n"
    "\t\t4 V(5 7 3 1) M(0)\r\n\t\t4 V(3 7 6 2) M(0)\r\n\t\t4 V(4 5 1 0) "
    "M(0)\r\n\t}\r\n}\r\nEof\r\n";

}  // namespace wz::testing
