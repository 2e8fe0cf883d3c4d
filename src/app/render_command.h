// wz-convert render: draws model files with the library's frame function into PNG pictures.
#pragma once

#include "core/library.h"

namespace wz {

// The view that makes pictures comparable.
struct FixedView {
  int width = 1280;
  int height = 720;
  float yawDegrees = 0.0f;
  float pitchDegrees = 0.0f;
  // The camera looks down at the model from this angle above the horizon.
  float elevationDegrees = 0.0f;
  // Above 0: the model is scaled so that its bounding sphere has this radius.
  float radius = 0.0f;
};

// Shows model `id` with display object 0 (made when missing) under the fixed view: the world
// matrix translate(-c) x rotation about y by yaw x rotation about x by pitch, c the centre of the
// bounding box of the positions; the camera at (0, 0, -d) looking at the origin with y up and a
// 45 degree vertical field of view, d = 1.05 r / sin(phi / 2) for the box's half diagonal r and
// the smaller field of view phi, near and far planes around the bounding sphere; the light at the
// eye, white. The background, fade and motion are the caller's. With an elevation the camera
// turns up about the origin by that angle; with a radius the world matrix first scales the model
// to it.
void ShowInFixedView(Library& library, ModelId id, const FixedView& view);

// Turns on the texture switch of every group that names a texture. Only WZP files say whether a
// group shows its texture; the readers of the other formats leave the switch off. Pictures show
// every texture a model names; call it only on a copy of a model that is never saved.
void ShowEveryGroupTexture(Model& model);

// Runs the command on `library` (not started yet) with argv[0] = "render". Returns the exit
// code: 0 when every file was drawn, 1 when any failed, 2 for a usage error.
int RenderCommand(Library& library, int argc, char** argv);

}  // namespace wz
