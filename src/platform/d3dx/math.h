// D3DX 9 math helpers: vectors, quaternions and 4 x 4 matrices in single precision, with the
// D3DX conventions the drawing code is written against. Matrices are row-major and multiply row
// vectors from the left (p x M), the translation is the fourth row, and view and projection
// matrices are left-handed (x right, y up, z into the screen, depth 0 near to 1 far).
// Every function writes its result through the first argument and returns it, as D3DX does, so
// calls can be chained; the output may be the same object as an input.
// Header only; no dependencies beyond <cmath> and the device's matrix record.
#pragma once

#include <cmath>

#include "platform/d3d/d3d9_types.h"

namespace wz::d3dx {

struct D3DXVECTOR3 {
  float x = 0, y = 0, z = 0;
  friend bool operator==(const D3DXVECTOR3&, const D3DXVECTOR3&) = default;
};

struct D3DXVECTOR4 {
  float x = 0, y = 0, z = 0, w = 0;
  friend bool operator==(const D3DXVECTOR4&, const D3DXVECTOR4&) = default;
};

// A rotation as a unit quaternion (x, y, z, w); (0, 0, 0, 1) is no rotation.
struct D3DXQUATERNION {
  float x = 0, y = 0, z = 0, w = 1;
  friend bool operator==(const D3DXQUATERNION&, const D3DXQUATERNION&) = default;
};

// The device's matrix record; a new one is the identity.
using D3DXMATRIX = d3d::D3DMATRIX;

// ---- Vectors ------------------------------------------------------------------------------------

inline float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  return a->x * b->x + a->y * b->y + a->z * b->z;
}

inline float D3DXVec3Length(const D3DXVECTOR3* v) {
  return std::sqrt(D3DXVec3Dot(v, v));
}

inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  const D3DXVECTOR3 r{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z,
                      a->x * b->y - a->y * b->x};
  *out = r;
  return out;
}

// The vector divided by its length; a zero vector stays zero.
inline D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  const float length = D3DXVec3Length(v);
  if (length > 0.0f) {
    *out = {v->x / length, v->y / length, v->z / length};
  } else {
    *out = {};
  }
  return out;
}

// The point (v, 1) x m, divided by the resulting w.
inline D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v,
                                           const D3DXMATRIX* m) {
  const auto& a = m->m;
  const float x = v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0];
  const float y = v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1];
  const float z = v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2];
  const float w = v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3];
  *out = {x / w, y / w, z / w};
  return out;
}

// The direction (v, 0) x m: the translation does not apply.
inline D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v,
                                            const D3DXMATRIX* m) {
  const auto& a = m->m;
  *out = {v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0],
          v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1],
          v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2]};
  return out;
}

// The point (v, 1) x m with its w, not divided.
inline D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const auto& a = m->m;
  *out = {v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0],
          v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1],
          v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2],
          v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3]};
  return out;
}

inline D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b,
                                 float s) {
  *out = {a->x + s * (b->x - a->x), a->y + s * (b->y - a->y), a->z + s * (b->z - a->z)};
  return out;
}

// ---- Quaternions --------------------------------------------------------------------------------

inline D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
  const float length = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w);
  if (length > 0.0f) {
    *out = {q->x / length, q->y / length, q->z / length, q->w / length};
  } else {
    *out = {0, 0, 0, 0};
  }
  return out;
}

// Spherical interpolation from a (s = 0) to b (s = 1) along the shorter arc.
inline D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* a,
                                           const D3DXQUATERNION* b, float s) {
  float cosine = a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
  float sign = 1.0f;
  if (cosine < 0.0f) {
    cosine = -cosine;
    sign = -1.0f;
  }
  float wa = 1.0f - s;
  float wb = s;
  // Nearly equal rotations interpolate linearly: the sine below would be close to zero.
  if (cosine < 0.9999f) {
    const float angle = std::acos(cosine);
    const float sine = std::sin(angle);
    wa = std::sin((1.0f - s) * angle) / sine;
    wb = std::sin(s * angle) / sine;
  }
  wb *= sign;
  *out = {wa * a->x + wb * b->x, wa * a->y + wb * b->y, wa * a->z + wb * b->z,
          wa * a->w + wb * b->w};
  return out;
}

// ---- Matrices -----------------------------------------------------------------------------------

inline D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX{};
  return out;
}

// a x b: the transformation a followed by b.
inline D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                  a->m[i][3] * b->m[3][j];
    }
  }
  *out = r;
  return out;
}

inline D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  *out = D3DXMATRIX{};
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
  return out;
}

inline D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float x, float y, float z) {
  *out = D3DXMATRIX{};
  out->m[0][0] = x;
  out->m[1][1] = y;
  out->m[2][2] = z;
  return out;
}

// Rotations by `angle` radians; seen from the positive end of the axis looking at the origin, a
// positive angle turns clockwise (the left-handed convention).
inline D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX{};
  out->m[1][1] = c;
  out->m[1][2] = s;
  out->m[2][1] = -s;
  out->m[2][2] = c;
  return out;
}

inline D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX{};
  out->m[0][0] = c;
  out->m[0][2] = -s;
  out->m[2][0] = s;
  out->m[2][2] = c;
  return out;
}

inline D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX{};
  out->m[0][0] = c;
  out->m[0][1] = s;
  out->m[1][0] = -s;
  out->m[1][1] = c;
  return out;
}

// Roll about z first, then pitch about x, then yaw about y.
inline D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch,
                                                  float roll) {
  D3DXMATRIX z, x, y;
  D3DXMatrixRotationZ(&z, roll);
  D3DXMatrixRotationX(&x, pitch);
  D3DXMatrixRotationY(&y, yaw);
  D3DXMatrixMultiply(out, &z, &x);
  return D3DXMatrixMultiply(out, out, &y);
}

// The rotation of a unit quaternion.
inline D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  *out = D3DXMATRIX{};
  out->m[0][0] = 1.0f - 2.0f * (y * y + z * z);
  out->m[0][1] = 2.0f * (x * y + z * w);
  out->m[0][2] = 2.0f * (x * z - y * w);
  out->m[1][0] = 2.0f * (x * y - z * w);
  out->m[1][1] = 1.0f - 2.0f * (x * x + z * z);
  out->m[1][2] = 2.0f * (y * z + x * w);
  out->m[2][0] = 2.0f * (x * z + y * w);
  out->m[2][1] = 2.0f * (y * z - x * w);
  out->m[2][2] = 1.0f - 2.0f * (x * x + y * y);
  return out;
}

// The view from `eye` towards `at` with `up` as the screen's up direction.
inline D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye,
                                      const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
  D3DXVECTOR3 zaxis{at->x - eye->x, at->y - eye->y, at->z - eye->z};
  D3DXVec3Normalize(&zaxis, &zaxis);
  D3DXVECTOR3 xaxis;
  D3DXVec3Cross(&xaxis, up, &zaxis);
  D3DXVec3Normalize(&xaxis, &xaxis);
  D3DXVECTOR3 yaxis;
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  *out = D3DXMATRIX{};
  const D3DXVECTOR3* axes[3] = {&xaxis, &yaxis, &zaxis};
  for (int c = 0; c < 3; ++c) {
    out->m[0][c] = axes[c]->x;
    out->m[1][c] = axes[c]->y;
    out->m[2][c] = axes[c]->z;
    out->m[3][c] = -D3DXVec3Dot(axes[c], eye);
  }
  return out;
}

// Perspective projection by the vertical field of view (radians) and the aspect ratio width /
// height; depth maps zn to 0 and zf to 1.
inline D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn,
                                              float zf) {
  const float yScale = 1.0f / std::tan(fovY * 0.5f);
  *out = D3DXMATRIX{};
  out->m[0][0] = yScale / aspect;
  out->m[1][1] = yScale;
  out->m[2][2] = zf / (zf - zn);
  out->m[2][3] = 1.0f;
  out->m[3][2] = -zn * zf / (zf - zn);
  out->m[3][3] = 0.0f;
  return out;
}

// Perspective projection by the width and height of the view volume at the near plane.
inline D3DXMATRIX* D3DXMatrixPerspectiveLH(D3DXMATRIX* out, float w, float h, float zn, float zf) {
  *out = D3DXMATRIX{};
  out->m[0][0] = 2.0f * zn / w;
  out->m[1][1] = 2.0f * zn / h;
  out->m[2][2] = zf / (zf - zn);
  out->m[2][3] = 1.0f;
  out->m[3][2] = zn * zf / (zn - zf);
  out->m[3][3] = 0.0f;
  return out;
}

inline float D3DXMatrixDeterminant(const D3DXMATRIX* m) {
  const auto& a = m->m;
  const float s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  const float s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  const float s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  const float s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  const float s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  const float s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  const float c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
  const float c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  const float c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  const float c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  const float c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  const float c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
  return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

// The inverse; null (and `out` unchanged) when the matrix is singular. The determinant is
// stored through `determinant` when given.
inline D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
  const auto& a = m->m;
  const float s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  const float s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  const float s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  const float s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  const float s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  const float s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  const float c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
  const float c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  const float c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  const float c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  const float c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  const float c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (determinant) *determinant = det;
  if (det == 0.0f || !std::isfinite(det)) return nullptr;
  const float k = 1.0f / det;
  D3DXMATRIX r;
  r.m[0][0] = (a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) * k;
  r.m[0][1] = (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) * k;
  r.m[0][2] = (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) * k;
  r.m[0][3] = (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) * k;
  r.m[1][0] = (-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) * k;
  r.m[1][1] = (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) * k;
  r.m[1][2] = (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) * k;
  r.m[1][3] = (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) * k;
  r.m[2][0] = (a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) * k;
  r.m[2][1] = (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) * k;
  r.m[2][2] = (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) * k;
  r.m[2][3] = (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) * k;
  r.m[3][0] = (-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) * k;
  r.m[3][1] = (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) * k;
  r.m[3][2] = (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) * k;
  r.m[3][3] = (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) * k;
  *out = r;
  return out;
}

inline D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = m->m[j][i];
  *out = r;
  return out;
}

}  // namespace wz::d3dx
