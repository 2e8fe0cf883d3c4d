// Files as the library sees them. Paths are library paths: Windows-style byte strings with
// backslash separators and code-page-932 names. Every operation here maps such a path to the host
// file system, and when the exact path does not exist each component is matched without regard
// to case, so callers never touch host paths.
//
// The mapping between host paths and library paths is reversible (text.h, HostBytesToCp932):
// host '/' and library '\' are the separators; characters code page 932 holds are taken as its
// two-byte (or half-width) characters; a host backslash, every character code page 932 lacks
// (café, emoji😀) and every byte that is not valid UTF-8 is escaped byte by byte into the
// user-defined area (lead byte 0xF0). Any host path therefore comes back byte for byte, and a
// person is shown it as UTF-8 (DisplayPath, Cp932ToUtf8). Paths have no length limit here; cuts at
// a separator or dot step over two-byte characters (Cp932FindLast).
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace wz::platform {

// Host path for a library path, after the mapping above (the case-insensitive match is applied
// only to components that exist; the rest is kept as given).
std::string HostPath(const std::string& libraryPath);

// Library path for a host path (the reversible mapping above).
std::string LibraryPath(const std::string& hostPath);

// A library path as a person reads it: UTF-8 with slashes, no case matching; host bytes that are
// not valid UTF-8 show as U+FFFD.
std::string DisplayPath(const std::string& libraryPath);

// fopen with the path mapping. Returns nullptr when the file cannot be opened.
FILE* OpenFile(const std::string& libraryPath, const char* mode);

// True when the path names an existing regular file that can be opened for reading.
bool FileExists(const std::string& libraryPath);
// True when the path names an existing folder.
bool DirectoryExists(const std::string& libraryPath);

// The identity of a file on the host (device and inode): two library paths name the same file,
// whatever their spelling, when their identities are equal.
struct FileId {
  bool valid = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};
// False (and `id` invalid) when the path names no existing file.
bool GetFileId(const std::string& libraryPath, FileId& id);

// Reads a whole file. False when it cannot be opened or read, or when it is larger than
// `maxBytes`.
bool ReadFileBytes(const std::string& libraryPath, std::vector<uint8_t>& out,
                   size_t maxBytes = size_t{1} << 31);

// A whole file's bytes in a buffer that is not cleared before the file is read into it (a
// vector's would be, at the cost of writing every byte twice). A large buffer is made of pages
// that are kept when it is freed, so that reading file after file reuses them.
class FileBytes {
 public:
  FileBytes() = default;
  ~FileBytes() { Reset(); }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }

 private:
  friend bool ReadFileBytes(const std::string&, FileBytes&, size_t);
  // Frees the buffer and makes one of `bytes` bytes (not cleared); false when it cannot be had.
  bool Make(size_t bytes);
  void Reset();
  uint8_t* data_ = nullptr;
  size_t size_ = 0;     // bytes of the file
  size_t asked_ = 0;    // bytes asked for (all may have been written)
  size_t granted_ = 0;  // bytes granted
};

// As above, into a FileBytes; also false when the memory for the file cannot be had.
bool ReadFileBytes(const std::string& libraryPath, FileBytes& out,
                   size_t maxBytes = size_t{1} << 31);

// ---- Files a model names ----------------------------------------------------------------------
//
// Textures and material libraries are named by the model file, which may come from anyone: such a
// file is read only when it is a regular file (never a device, FIFO, socket or directory, which
// could block the read or never end) and only up to a size cap.

// The largest file read because a model names it.
inline constexpr size_t kMaxNamedFileBytes = size_t{256} << 20;

enum class NamedFileError {
  kNone,
  kMissing,
  kNotRegular,
  kTooLarge,
  kOutside,
  kNoMemory,
  kUnreadable,
};
// "not found", "not a regular file", "larger than 256 MB", "outside the model's folder", ...
const char* NamedFileErrorText(NamedFileError error);

// Reads a whole regular file of at most `maxBytes`. The file is opened without blocking (a FIFO
// cannot hold the open) and checked on the open descriptor, so a name swapped for something else
// between a check and the read is never read.
NamedFileError ReadRegularFile(const std::string& libraryPath, std::vector<uint8_t>& out,
                               size_t maxBytes = kMaxNamedFileBytes);

// True when `libraryPath` names something in the folder `folder` or below it, with every link and
// ".." of both resolved (a path that does not exist is judged by the folders that do).
bool IsInsideFolder(const std::string& libraryPath, const std::string& folder);

// ---- Writing files -----------------------------------------------------------------------------

// The host path a file written to `libraryPath` takes: its folders found as HostPath finds them
// (without regard to case), its own name exactly as given, so that a file whose name differs only
// by case is never taken for the output.
std::string OutputHostPath(const std::string& libraryPath);

// The identity of the file an output path names exactly (OutputHostPath: no case matching of its
// own name); false when there is none.
bool GetOutputFileId(const std::string& libraryPath, FileId& id);
// When no file has the output path's own name but one whose name differs from it only by case
// does (the match HostPath makes), its library path; empty otherwise.
std::string CaseVariantOf(const std::string& libraryPath);

// Claims a name for an output: makes an empty file at OutputHostPath(libraryPath) only when nothing
// has that name yet (a link planted there counts as something), so two writers, in this process or
// others, never both take it. kExists: something has the name; kFailed: it could not be made.
enum class ClaimResult { kClaimed, kExists, kFailed };
ClaimResult ClaimNewFile(const std::string& libraryPath);
// Makes the folder `libraryFolder` and those above it where missing; false when it is not a folder
// afterwards.
bool MakeFolders(const std::string& libraryFolder);
// Removes the file an output path names (OutputHostPath); false when nothing was removed.
bool RemoveOutputFile(const std::string& libraryPath);

// Writes `bytes` to a temporary file beside the target and renames it over the target, so that a
// failed write never leaves a half-written file in place of the old one. False on any failure
// (the target is then unchanged and no temporary file is left behind).
bool WriteFileAtomically(const std::string& libraryPath, std::span<const uint8_t> bytes);
// The same for a file made of several parts, written one after the other (no copy joins them).
bool WriteFileAtomically(const std::string& libraryPath,
                         std::initializer_list<std::span<const uint8_t>> parts);

// The same for a file written in pieces: a temporary file beside the target, which Commit
// renames over it. Until then the target is untouched; a writer dropped without a successful
// Commit removes its temporary file. The temporary file has a short name of its own (".wz" with
// the process and a counter, so that a name near the length limit still has room), is created
// exclusively and never through a link planted at its name; a name that is taken is passed over
// for the next one.
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

  // The host path the next writer for `libraryPath` tries first (tests plant things there).
  static std::string PeekTemporaryPath(const std::string& libraryPath);

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool ok_ = false;
};

}  // namespace wz::platform
