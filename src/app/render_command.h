// wz-convert render: draws model files with the library's frame function into PNG pictures.
#pragma once

#include <string>
#include <vector>

#include "core/library.h"
#include "platform/file_io.h"

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

// The files one picture was drawn from (the model and the files it names, as the library read
// them), so that the picture never replaces one of them.
class FilesRead {
 public:
  // Watches what `library` reads through its model host while it lives.
  explicit FilesRead(Library& library);
  ~FilesRead();
  FilesRead(const FilesRead&) = delete;
  FilesRead& operator=(const FilesRead&) = delete;
  void Add(const std::string& libraryPath);
  void Clear() { ids_.clear(); }
  // Why a picture may not be written to `output` (a library path): it would replace a file that
  // was read, or one whose name differs from the picture's only by case. Empty when it may.
  std::string Conflict(const std::string& output) const;

 private:
  Library& library_;
  std::vector<platform::FileId> ids_;
};

// Runs the command on `library` (not started yet) with argv[0] = "render". Returns the exit
// code: 0 when every file was drawn, 1 when any failed, 2 for a usage error.
int RenderCommand(Library& library, int argc, char** argv);

}  // namespace wz
