// Face normals, smooth normals and the shading-mode-8 normal pool of a model. Readers call
// DeriveNormals at the end of their work.
#pragma once

#include "core/vec_math.h"
#include "model/model.h"

namespace wz {

// The unit normal of the face p0 p1 p2: (p1 - p0) x (p2 - p1), normalised, in single precision.
// Corners running counter-clockwise seen from +z give +z. A face whose corners are collinear or
// coincide, or whose normal cannot be computed finitely, gets (0, 0, 0).
Vec3 FaceNormal(Vec3 p0, Vec3 p1, Vec3 p2);

// For every used polygon of 3 or 4 corners: its face normal from its first three corners. Then
// for each of the first positionCount positions: the smooth normal, the normalised sum of the
// face normals of the polygons touching it once per corner ((0, 0, 0) when the sum is shorter
// than 1e-7, as for a position no polygon uses). The smooth-normal pool grows to positionCount
// when it is smaller.
// In shading mode 8 the normal pool is then rebuilt: every corner of a face gets the smooth
// normal of its position, each distinct value stored once, in the order in which the corners
// first use it; the pool grows as needed and normalCount becomes the number of distinct values.
// Polygons of 1 or 2 corners are left alone.
// Precondition: the counts fit their pools and every used face's position indices lie in
// [0, positionCount) (CheckModelInvariants).
// Faces with a smoothing angle (Polygon::smoothAngle) instead follow the angle rule: a corner's
// normal is the normalised sum of the face normals of the faces at its position that have the
// same group and the same angle and whose normals differ from its own face's by no more than the
// angle (its own face always counts). Edges sharper than the angle thus stay sharp. When any face
// has an angle, the normal pool is rebuilt as in shading mode 8 with these corner normals in place
// of the smooth normals of their positions. A position with more than kAngleRuleExactFaces faces
// compares each face with the mean directions of 384 direction bins instead of with every face,
// so the time stays linear in the corners.
void DeriveNormals(Model& model);

inline constexpr int kAngleRuleExactFaces = 512;

// The Polygon::smoothAngle code of an angle in degrees: clamped to [0, 180], in hundredths of a
// degree, plus one (NaN gives 0 degrees).
uint16_t SmoothAngleCode(double degrees);

// The shading-mode-8 rebuild on its own, from the current smooth normals: normalCount := 0, then
// for each corner of each used face in order, the corner's normal index := the first pool entry
// among those in use whose x, y and z equal the smooth normal of its position (as floats compare:
// -0 equals +0, NaN equals nothing), or a new entry appended with that value. The pool grows as
// needed. Runs in time linear in the number of corners.
// Faces with a smoothing angle take their corner normals by the angle rule instead.
// Precondition: as DeriveNormals, and smoothNormals holds positionCount entries.
void RebuildNormalPool(Model& model);

}  // namespace wz
