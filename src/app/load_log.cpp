#include "app/load_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace wz {

void LogCollector::Take(const std::string& cp932) {
  std::string line = platform::Cp932ToUtf8(cp932);
  if (verbose) std::fprintf(stderr, "%s\n", line.c_str());
  // "*** ERROR *** %s Loadできませんでした。": an image (a model's texture) did not load.
  const std::string imageFailed = " Loadできませんでした。";
  if (line.rfind("*** ERROR *** ", 0) == 0 && line.size() > imageFailed.size() &&
      line.compare(line.size() - imageFailed.size(), imageFailed.size(), imageFailed) == 0) {
    lines.push_back("texture " + Shortened(line.substr(14, line.size() - 14 - imageFailed.size())) +
                    " cannot be loaded");
    return;
  }
  for (const char* prefix : {"*** LoadError *** ", "*** ERROR *** ", "*** エラー *** "}) {
    if (line.rfind(prefix, 0) == 0) {
      std::string reason = line.substr(std::strlen(prefix));
      if (size_t sep = reason.rfind(" : "); sep != std::string::npos) {
        reason = reason.substr(sep + 3);
      }
      lines.push_back(Shortened(reason));
      return;
    }
  }
  if (line.find("を開くことができませんでした") != std::string::npos) {
    lines.push_back("cannot be opened");
  }
  // "%s : ポリゴン数 %d ( 最大%dを超えています )": the polygons beyond the capacity were left
  // out.
  if (size_t at = line.find("( 最大");
      at != std::string::npos && line.find("ポリゴン数") != std::string::npos) {
    cuts.push_back("cut to " +
                   std::to_string(std::atol(line.c_str() + at + std::strlen("( 最大"))) +
                   " polygons");
  }
}

// A name a file gives (a texture name can be any length) cut for a line a person reads.
std::string LogCollector::Shortened(const std::string& utf8) {
  constexpr size_t kMax = 120;
  if (utf8.size() <= kMax) return utf8;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
    --cut;  // not inside a character
  return utf8.substr(0, cut) + "...";
}
std::string LogCollector::Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& l : parts)
    out += (out.empty() ? "" : "; ") + l;
  return out;
}

}  // namespace wz
