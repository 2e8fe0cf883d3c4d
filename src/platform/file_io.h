// Files as the library sees them. Paths are library paths: Windows-style byte strings with
// backslash separators and code-page-932 names. Every operation here maps such a path to the host
// file system (backslashes become slashes, a name that is not valid UTF-8 is decoded from code
// page 932, and when the exact path does not exist each component is matched without regard to
// case), so callers never touch host paths.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace wz::platform {

// Host path for a library path, after the mapping above (the case-insensitive match is applied
// only to components that exist; the rest is kept as given).
std::string HostPath(const std::string& libraryPath);

// Library path for a host path: slashes become backslashes and UTF-8 names become code page 932.
std::string LibraryPath(const std::string& hostPath);

// fopen with the path mapping. Returns nullptr when the file cannot be opened.
FILE* OpenFile(const std::string& libraryPath, const char* mode);

// True when the path names an existing regular file that can be opened for reading.
bool FileExists(const std::string& libraryPath);

// Reads a whole file. False when it cannot be opened or read, or when it is larger than
// `maxBytes`.
bool ReadFileBytes(const std::string& libraryPath, std::vector<uint8_t>& out,
                   size_t maxBytes = size_t{1} << 31);

// A whole file's bytes in a buffer that is not cleared before the file is read into it (a
// vector's would be, at the cost of writing every byte twice).
class FileBytes {
 public:
  std::span<const uint8_t> Bytes() const { return {data_.get(), size_}; }

 private:
  friend bool ReadFileBytes(const std::string&, FileBytes&, size_t);
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

// As above, into a FileBytes; also false when the memory for the file cannot be had.
bool ReadFileBytes(const std::string& libraryPath, FileBytes& out,
                   size_t maxBytes = size_t{1} << 31);

// Writes `bytes` to a temporary file beside the target and renames it over the target, so that a
// failed write never leaves a half-written file in place of the old one. False on any failure
// (the target is then unchanged and no temporary file is left behind).
bool WriteFileAtomically(const std::string& libraryPath, std::span<const uint8_t> bytes);

// The same for a file written in pieces: a temporary file beside the target, which Commit
// renames over it. Until then the target is untouched; a writer dropped without a successful
// Commit removes its temporary file.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& libraryPath);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Appends the bytes; false once the file could not be made or any write failed.
  bool Write(std::span<const uint8_t> bytes);
  // Closes the file and renames it over the target; false (and no temporary file left) when
  // anything failed.
  bool Commit();

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace wz::platform
