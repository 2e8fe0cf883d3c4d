// Small vector and 4 x 4 matrix helpers in single precision.
// Matrices are row-major and multiply row vectors from the left: a point p is transformed as
// p x M, the translation sits in the fourth row, and Multiply(a, b) applies a first, then b.
// The formulas follow the usual Direct3D utility conventions so that results match data made
// with them. Header only; no dependencies beyond <cmath>.
#pragma once

#include <cmath>

namespace wz {

struct Vec2 {
  float x = 0.0f;
  float y = 0.0f;
  friend bool operator==(const Vec2&, const Vec2&) = default;
};

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  friend bool operator==(const Vec3&, const Vec3&) = default;
};

// Four floats; also used for quaternions (x, y, z, w).
struct Vec4 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 0.0f;
  friend bool operator==(const Vec4&, const Vec4&) = default;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, float s) {
  return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 operator/(Vec3 a, float s) {
  return {a.x / s, a.y / s, a.z / s};
}
inline Vec3& operator+=(Vec3& a, Vec3 b) {
  a.x += b.x;
  a.y += b.y;
  a.z += b.z;
  return a;
}

inline float Dot(Vec3 a, Vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Length(Vec3 v) {
  return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

inline bool IsFinite(Vec3 v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct Mat4 {
  float m[4][4] = {};
  friend bool operator==(const Mat4&, const Mat4&) = default;
};

inline Mat4 MatrixIdentity() {
  Mat4 r;
  for (int i = 0; i < 4; ++i)
    r.m[i][i] = 1.0f;
  return r;
}

inline Mat4 MatrixTranslation(Vec3 t) {
  Mat4 r = MatrixIdentity();
  r.m[3][0] = t.x;
  r.m[3][1] = t.y;
  r.m[3][2] = t.z;
  return r;
}

inline Mat4 MatrixScaling(Vec3 s) {
  Mat4 r;
  r.m[0][0] = s.x;
  r.m[1][1] = s.y;
  r.m[2][2] = s.z;
  r.m[3][3] = 1.0f;
  return r;
}

// Rotation matrix of the quaternion q = (x, y, z, w), assumed to be of unit length.
inline Mat4 MatrixRotationQuaternion(Vec4 q) {
  Mat4 r = MatrixIdentity();
  r.m[0][0] = 1.0f - 2.0f * (q.y * q.y + q.z * q.z);
  r.m[0][1] = 2.0f * (q.x * q.y + q.z * q.w);
  r.m[0][2] = 2.0f * (q.x * q.z - q.y * q.w);
  r.m[1][0] = 2.0f * (q.x * q.y - q.z * q.w);
  r.m[1][1] = 1.0f - 2.0f * (q.x * q.x + q.z * q.z);
  r.m[1][2] = 2.0f * (q.y * q.z + q.x * q.w);
  r.m[2][0] = 2.0f * (q.x * q.z + q.y * q.w);
  r.m[2][1] = 2.0f * (q.y * q.z - q.x * q.w);
  r.m[2][2] = 1.0f - 2.0f * (q.x * q.x + q.y * q.y);
  return r;
}

// a x b: the transformation a followed by b.
inline Mat4 Multiply(const Mat4& a, const Mat4& b) {
  Mat4 r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}

inline Mat4 operator*(const Mat4& a, const Mat4& b) {
  return Multiply(a, b);
}

// The point (p, 1) x m, divided by the resulting w.
inline Vec3 TransformCoord(Vec3 p, const Mat4& m) {
  float x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  float y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  float z = p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2];
  float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  return {x / w, y / w, z / w};
}

// The direction (v, 0) x m: rotation and scale only.
inline Vec3 TransformNormal(Vec3 v, const Mat4& m) {
  return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
          v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
          v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

}  // namespace wz
