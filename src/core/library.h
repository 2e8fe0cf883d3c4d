// The library object: configuration, switches, paths, capabilities and one state record per
// subsystem. Its methods are the library's operations.
#pragma once

namespace wz {

class Library {
 public:
  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
};

}  // namespace wz
