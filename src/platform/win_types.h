// Numbers and small types of the Windows platform that reach data, files, logs or tables, with
// their Windows values. Only the numbers live here; the operations are plain C++ in the other
// platform headers.
#pragma once

#include <cstdint>

namespace wz {

using HRESULT = int32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
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
constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

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

constexpr uint32_t D3DX_DEFAULT = 0xFFFFFFFFu;
constexpr uint32_t D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFEu;
constexpr uint32_t D3DX_FROM_FILE = 0xFFFFFFFDu;
constexpr uint32_t D3DX_FILTER_NONE = 1;
constexpr uint32_t D3DX_FILTER_POINT = 2;
constexpr uint32_t D3DX_FILTER_LINEAR = 3;
constexpr uint32_t D3DX_FILTER_TRIANGLE = 4;
constexpr uint32_t D3DX_FILTER_BOX = 5;

}  // namespace wz
