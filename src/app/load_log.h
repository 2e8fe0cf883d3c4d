// What the library logs while the tools read or write one file, gathered into a line for a person.
#pragma once

#include <string>
#include <vector>

namespace wz {

// What the library logged while one file was handled: the lines of readers and writers ("*** ...
// *** path : reason", prefix and path taken off), and polygon counts cut at the capacity. For a
// file that was read they are notes on its line; for one that was not, the reasons.
struct LogCollector {
  std::vector<std::string> lines;
  std::vector<std::string> cuts;  // "cut to N polygons"
  bool verbose = false;
  void Clear() {
    lines.clear();
    cuts.clear();
  }
  void Take(const std::string& cp932);
  std::string Reasons() const { return Join(lines); }
  std::string Notes() const {
    std::vector<std::string> all = cuts;
    all.insert(all.end(), lines.begin(), lines.end());
    return Join(all);
  }
  // A name a file gives (a texture name can be any length) cut for a line a person reads.
  static std::string Shortened(const std::string& utf8);
  static std::string Join(const std::vector<std::string>& parts);
};

}  // namespace wz
