// Numbers and small types of the Windows platform that reach data, files, logs or tables, with
// their Windows values. Only the numbers live here; the operations are plain C++ in the other
// platform headers.
#pragma once

#include <cstdint>

namespace wz {

using HRESULT = int32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using BOOL = int32_t;
using D3DCOLOR = uint32_t;  // A8R8G8B8 word

struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct PALETTEENTRY {
  uint8_t peRed;
  uint8_t peGreen;
  uint8_t peBlue;
  uint8_t peFlags;
};

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT HRESULT_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002u);
constexpr bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
  return hr < 0;
}

// Direct3D 9 results.
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = static_cast<HRESULT>(0x88760827u);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
constexpr HRESULT D3DXERR_CANNOTATTRSORT = static_cast<HRESULT>(0x88760B56u);
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);
constexpr HRESULT D3DXERR_LOADEDMESHHASNODATA = static_cast<HRESULT>(0x88760B5Au);

// Direct3D formats.
enum D3DFORMAT : uint32_t {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_R8G8B8 = 20,
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_X1R5G5B5 = 24,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A4R4G4B4 = 26,
  D3DFMT_A8 = 28,
  D3DFMT_X4R4G4B4 = 30,
  D3DFMT_A8B8G8R8 = 32,
  D3DFMT_X8B8G8R8 = 33,
  D3DFMT_A16B16G16R16 = 36,
  D3DFMT_P8 = 41,
  D3DFMT_L8 = 50,
  D3DFMT_A8L8 = 51,
  D3DFMT_L16 = 81,
  D3DFMT_D24S8 = 75,
  D3DFMT_D24X8 = 77,
  D3DFMT_D16 = 80,
  D3DFMT_R16F = 111,
  D3DFMT_G16R16F = 112,
  D3DFMT_A16B16G16R16F = 113,
  D3DFMT_R32F = 114,
  D3DFMT_G32R32F = 115,
  D3DFMT_A32B32G32R32F = 116,
  D3DFMT_DXT1 = 0x31545844,  // 'DXT1'
  D3DFMT_DXT2 = 0x32545844,
  D3DFMT_DXT3 = 0x33545844,
  D3DFMT_DXT4 = 0x34545844,
  D3DFMT_DXT5 = 0x35545844,
};

enum D3DPOOL : uint32_t {
  D3DPOOL_DEFAULT = 0,
  D3DPOOL_MANAGED = 1,
  D3DPOOL_SYSTEMMEM = 2,
  D3DPOOL_SCRATCH = 3,
};

constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;

constexpr uint32_t D3DLOCK_READONLY = 0x10;
constexpr uint32_t D3DLOCK_DISCARD = 0x2000;
constexpr uint32_t D3DLOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t D3DLOCK_NOSYSLOCK = 0x800;
constexpr uint32_t D3DLOCK_NO_DIRTY_UPDATE = 0x8000;

enum D3DRESOURCETYPE : uint32_t {
  D3DRTYPE_SURFACE = 1,
  D3DRTYPE_VOLUME = 2,
  D3DRTYPE_TEXTURE = 3,
  D3DRTYPE_VOLUMETEXTURE = 4,
  D3DRTYPE_CUBETEXTURE = 5,
  D3DRTYPE_VERTEXBUFFER = 6,
  D3DRTYPE_INDEXBUFFER = 7,
};

enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0, D3DMULTISAMPLE_4_SAMPLES = 4 };

constexpr uint32_t D3DPRESENT_INTERVAL_ONE = 1;
constexpr uint32_t D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

// A rectangle of Clear, in pixels: (x1, y1) inclusive to (x2, y2) exclusive.
struct D3DRECT {
  int32_t x1, y1, x2, y2;
};

constexpr uint32_t D3DCLEAR_TARGET = 1;
constexpr uint32_t D3DCLEAR_ZBUFFER = 2;
constexpr uint32_t D3DCLEAR_STENCIL = 4;

constexpr uint32_t D3DCREATE_MULTITHREADED = 0x4;
constexpr uint32_t D3DCREATE_PUREDEVICE = 0x10;
constexpr uint32_t D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr uint32_t D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;

constexpr uint32_t D3D_SDK_VERSION = 31;

// D3DX image file formats.
enum D3DXIMAGE_FILEFORMAT : uint32_t {
  D3DXIFF_BMP = 0,
  D3DXIFF_JPG = 1,
  D3DXIFF_TGA = 2,
  D3DXIFF_PNG = 3,
  D3DXIFF_DDS = 4,
  D3DXIFF_PPM = 5,
  D3DXIFF_DIB = 6,
  D3DXIFF_HDR = 7,
  D3DXIFF_PFM = 8,
};

// Flexible vertex format bits.
constexpr DWORD D3DFVF_RESERVED0 = 0x001;
constexpr DWORD D3DFVF_POSITION_MASK = 0x400E;
constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_XYZRHW = 0x004;
constexpr DWORD D3DFVF_XYZB1 = 0x006;
constexpr DWORD D3DFVF_XYZB2 = 0x008;
constexpr DWORD D3DFVF_XYZB3 = 0x00A;
constexpr DWORD D3DFVF_XYZB4 = 0x00C;
constexpr DWORD D3DFVF_XYZB5 = 0x00E;
constexpr DWORD D3DFVF_XYZW = 0x4002;
constexpr DWORD D3DFVF_NORMAL = 0x010;
constexpr DWORD D3DFVF_PSIZE = 0x020;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_SPECULAR = 0x080;
constexpr DWORD D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr DWORD D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr DWORD D3DFVF_TEX0 = 0x000;
constexpr DWORD D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DFVF_TEX2 = 0x200;
constexpr DWORD D3DFVF_LASTBETA_UBYTE4 = 0x1000;
constexpr DWORD D3DFVF_LASTBETA_D3DCOLOR = 0x8000;
constexpr DWORD D3DFVF_RESERVED2 = 0x6000;
// Texture-coordinate sizes of set i: D3DFVF_TEXCOORDSIZEn(i) = format << (16 + 2i).
constexpr DWORD D3DFVF_TEXTUREFORMAT1 = 3;
constexpr DWORD D3DFVF_TEXTUREFORMAT2 = 0;
constexpr DWORD D3DFVF_TEXTUREFORMAT3 = 1;
constexpr DWORD D3DFVF_TEXTUREFORMAT4 = 2;
constexpr DWORD D3DFVF_TEXCOORDSIZE1(int i) {
  return D3DFVF_TEXTUREFORMAT1 << (i * 2 + 16);
}
constexpr DWORD D3DFVF_TEXCOORDSIZE3(int i) {
  return D3DFVF_TEXTUREFORMAT3 << (i * 2 + 16);
}
constexpr DWORD D3DFVF_TEXCOORDSIZE4(int i) {
  return D3DFVF_TEXTUREFORMAT4 << (i * 2 + 16);
}

// D3DX mesh options.
constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;

// D3DX mesh optimisation flags.
constexpr DWORD D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000;
constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;
constexpr DWORD D3DXMESHOPT_STRIPREORDER = 0x08000000;
constexpr DWORD D3DXMESHOPT_IGNOREVERTS = 0x10000000;
constexpr DWORD D3DXMESHOPT_DONOTSPLIT = 0x20000000;

// D3DX X-file save formats (COMPRESSED is combined with BINARY or TEXT).
constexpr DWORD D3DXF_FILEFORMAT_BINARY = 0;
constexpr DWORD D3DXF_FILEFORMAT_TEXT = 1;
constexpr DWORD D3DXF_FILEFORMAT_COMPRESSED = 2;

constexpr uint32_t D3DX_DEFAULT = 0xFFFFFFFFu;
constexpr uint32_t D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFEu;
constexpr uint32_t D3DX_FROM_FILE = 0xFFFFFFFDu;
constexpr uint32_t D3DX_FILTER_NONE = 1;
constexpr uint32_t D3DX_FILTER_POINT = 2;
constexpr uint32_t D3DX_FILTER_LINEAR = 3;
constexpr uint32_t D3DX_FILTER_TRIANGLE = 4;
constexpr uint32_t D3DX_FILTER_BOX = 5;

}  // namespace wz
