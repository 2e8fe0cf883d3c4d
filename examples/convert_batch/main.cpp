// convert_batch: loads each model file, prints its counts and saves it as GLB, without a window.
//   convert_batch [-o FOLDER] FILE...     (the .glb files go beside each input, or into FOLDER)
// Exit code 0 when every file converted, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <wz/wz.h>

int main(int argc, char** argv) {
  const char* folder = nullptr;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      folder = argv[++i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: convert_batch [-o FOLDER] FILE...\n");
    return 2;
  }
  wz::StartOptions options;
  options.desktop = false;
  wz::Session session(options);
  if (!session.ok()) {
    std::fprintf(stderr, "convert_batch: %s\n", wz::LastError());
    return 1;
  }
  std::printf("convert_batch: WZ %s\n", wz::Version());
  int failures = 0;
  for (const char* file : files) {
    wz::ModelInfo info;
    if (!wz::InspectFile(file, info)) {
      std::fprintf(stderr, "%s: %s\n", file, wz::LastError());
      ++failures;
      continue;
    }
    std::printf("%s: %lld polygons, %lld vertices, %d groups, %d textures, %d bones, %d motions\n",
                file, static_cast<long long>(info.polygons), static_cast<long long>(info.vertices),
                info.groups, info.textures, info.bones, info.motions);
    const wz::ConvertResult result = wz::ConvertFile(file, wz::Format::kGlb, folder);
    if (!result.ok) {
      std::fprintf(stderr, "%s: %s\n", file, result.error.c_str());
      ++failures;
      continue;
    }
    std::string dropped;
    for (const std::string& d : result.dropped)
      dropped += (dropped.empty() ? " (dropped: " : ", ") + d;
    std::printf("%s -> %s%s\n", file, result.output.c_str(),
                dropped.empty() ? "" : (dropped + ")").c_str());
  }
  return failures == 0 ? 0 : 1;
}
