// Path mapping and whole-file helpers over the host file system.
#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/memory.h"
#include "platform/text.h"

namespace wz::platform {
namespace {

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0;
}

std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
  }
  return s;
}

// The names in one directory by their ASCII lower case, for the case-insensitive match. The last
// directory listed is kept, with an inotify watch that reports every later change to its
// entries, so that looking up many names that do not exist in one directory (the outputs of a
// batch conversion) lists it once instead of once per name. The watch is set before the
// directory is read, so no change can fall between the two. The kernel queues an event before
// the call that made the change returns, so a change by any process on this machine is seen by
// the next lookup. Changes made elsewhere reach no watch: on a file system that is not known to
// be local (NFS, SMB, FUSE, ...) the listing is not kept. Without inotify (watch or instance
// limit reached), after the event queue overflowed, after a fork (the child would share the
// parent's queue) or when the directory was removed or moved, the directory is listed again.
class DirectoryNames {
 public:
  // False when `dir` cannot be read or holds no such name.
  bool Find(const std::string& dir, const std::string& name, std::string& found) {
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return false;
    std::lock_guard lock(mutex_);
    if (!Current(dir, st) && !List(dir, st)) return false;
    const auto it = names_.find(AsciiLower(name));
    if (it == names_.end() || it->second.empty()) return false;
    found = it->second.front();
    return true;
  }

 private:
  // True when the kept listing is of `dir` and up to date (pending changes applied).
  bool Current(const std::string& dir, const struct stat& st) {
    if (pid_ != ::getpid()) {
      // A forked child: the inotify descriptor is shared with the parent, whose reads would
      // take this process's events. Start over with one of its own.
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      wd_ = -1;
      watched_ = false;
      pid_ = ::getpid();
    }
    if (!watched_ || dir != dir_ || st.st_dev != dev_ || st.st_ino != ino_) return false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;  // nothing pending
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += ssize_t(sizeof(inotify_event) + e->len);
        if (e->wd != wd_) continue;  // left over from an earlier watch
        if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          watched_ = false;
        } else if (e->len > 0 && (e->mask & (IN_CREATE | IN_MOVED_TO))) {
          Add(e->name);
        } else if (e->len > 0 && (e->mask & (IN_DELETE | IN_MOVED_FROM))) {
          Remove(e->name);
        }
      }
    }
    return watched_;
  }

  bool List(const std::string& dir, const struct stat& st) {
    // The watch is set when a directory is listed for the third time in a row: taking a watch
    // down (at the latest when the process ends) makes the kernel wait some milliseconds, more
    // than a program that looks up a name or two spends on everything else; a batch that looks
    // up a name per file gets it from its third file on.
    const bool same = dir == dir_ && st.st_dev == dev_ && st.st_ino == ino_;
    listings_ = same ? listings_ + 1 : 1;
    const bool again = listings_ >= 3;
    if (fd_ >= 0 && wd_ >= 0) ::inotify_rm_watch(fd_, wd_);
    wd_ = -1;
    watched_ = false;
    names_.clear();
    if (again && LocalFileSystem(dir)) {
      if (fd_ < 0) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (fd_ >= 0) {
        wd_ = ::inotify_add_watch(fd_, dir.c_str(),
                                  IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
      }
    }
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
      if (wd_ >= 0) ::inotify_rm_watch(fd_, wd_);
      wd_ = -1;
      return false;
    }
    while (dirent* e = ::readdir(d))
      Add(e->d_name);
    ::closedir(d);
    dir_ = dir;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    watched_ = wd_ >= 0;
    return true;
  }

  // File systems whose every change passes through this kernel, so that a watch sees it.
  static bool LocalFileSystem(const std::string& dir) {
    struct statfs fs;
    if (::statfs(dir.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
      case 0xEF53:      // ext2/3/4
      case 0x01021994:  // tmpfs
      case 0x58465342:  // xfs
      case 0x9123683E:  // btrfs
      case 0xF2F52010:  // f2fs
      case 0x794C7630:  // overlayfs
        return true;
      default:
        return false;
    }
  }

  void Add(const std::string& name) {
    auto& same = names_[AsciiLower(name)];
    if (std::find(same.begin(), same.end(), name) == same.end()) same.push_back(name);
  }
  void Remove(const std::string& name) {
    const auto it = names_.find(AsciiLower(name));
    if (it != names_.end()) std::erase(it->second, name);
  }

  std::mutex mutex_;
  pid_t pid_ = ::getpid();  // the process that owns fd_
  int fd_ = -1;             // the inotify instance, made on first use
  int wd_ = -1;
  bool watched_ = false;  // names_ is the listing of dir_, kept current by the watch
  int listings_ = 0;      // listings of dir_ in a row
  std::string dir_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::unordered_map<std::string, std::vector<std::string>> names_;  // in listing order
};

// Finds `name` in `dir` without regard to ASCII case. Returns false when there is no match.
bool FindCaseInsensitive(const std::string& dir, const std::string& name, std::string& found) {
  static DirectoryNames* names = new DirectoryNames;  // never destroyed: lookups may run at exit
  return names->Find(dir.empty() ? "." : dir, name, found);
}

}  // namespace

std::string HostPath(const std::string& libraryPath) {
  const std::string p = Cp932ToHostBytes(libraryPath, true);
  if (p.empty() || Exists(p)) return p;

  // Walk the components, keeping each one that exists and matching the others without case.
  std::string out;
  size_t i = 0;
  if (p[0] == '/') {
    out = "/";
    i = 1;
  }
  bool matching = true;
  while (i <= p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string comp = p.substr(i, j - i);
    if (!comp.empty()) {
      std::string candidate = out + comp;
      std::string found;
      if (matching && !Exists(candidate) && comp != "." && comp != ".." &&
          FindCaseInsensitive(out.empty() ? "." : out, comp, found)) {
        candidate = out + found;
      } else if (!Exists(candidate)) {
        matching = false;
      }
      out = candidate;
    }
    if (j < p.size()) out += '/';
    i = j + 1;
  }
  return out;
}

std::string LibraryPath(const std::string& hostPath) {
  return HostBytesToCp932(hostPath, true);
}

std::string DisplayPath(const std::string& libraryPath) {
  return Cp932ToUtf8(libraryPath, true);
}

FILE* OpenFile(const std::string& libraryPath, const char* mode) {
  return std::fopen(HostPath(libraryPath).c_str(), mode);
}

bool FileExists(const std::string& libraryPath) {
  std::string host = HostPath(libraryPath);
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(host.c_str(), R_OK) == 0;
}

bool DirectoryExists(const std::string& libraryPath) {
  struct stat st;
  return ::stat(HostPath(libraryPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetFileId(const std::string& libraryPath, FileId& id) {
  id = FileId{};
  struct stat st;
  // The path as written first; the match without case only when it names nothing.
  if (::stat(Cp932ToHostBytes(libraryPath, true).c_str(), &st) != 0 &&
      ::stat(HostPath(libraryPath).c_str(), &st) != 0)
    return false;
  id = FileId{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

bool ReadFileBytes(const std::string& libraryPath, std::vector<uint8_t>& out, size_t maxBytes) {
  FILE* f = OpenFile(libraryPath, "rb");
  if (!f) return false;
  out.clear();
  bool ok = true;
  // A regular file is read in one piece of its size; what follows (a file that grew meanwhile,
  // or one without a size) is read in chunks.
  struct stat st;
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    if (uint64_t(st.st_size) > maxBytes) {
      std::fclose(f);
      return false;
    }
    out.resize(size_t(st.st_size));
    out.resize(std::fread(out.data(), 1, out.size(), f));
    ok = !std::ferror(f);
  }
  uint8_t buffer[65536];
  while (ok) {
    size_t n = std::fread(buffer, 1, sizeof buffer, f);
    if (out.size() + n > maxBytes) {
      ok = false;
      break;
    }
    out.insert(out.end(), buffer, buffer + n);
    if (n < sizeof buffer) {
      ok = !std::ferror(f);
      break;
    }
  }
  std::fclose(f);
  if (!ok) out.clear();
  return ok;
}

const char* NamedFileErrorText(NamedFileError error) {
  switch (error) {
    case NamedFileError::kNone:
      return "read";
    case NamedFileError::kMissing:
      return "not found";
    case NamedFileError::kNotRegular:
      return "not a regular file";
    case NamedFileError::kTooLarge:
      return "larger than 256 MB";
    case NamedFileError::kOutside:
      return "outside the model's folder";
    case NamedFileError::kNoMemory:
      return "not enough memory to read it";
    case NamedFileError::kUnreadable:
      break;
  }
  return "cannot be read";
}

NamedFileError ReadRegularFile(const std::string& libraryPath, std::vector<uint8_t>& out,
                               size_t maxBytes) {
  out.clear();
  const std::string host = HostPath(libraryPath);
  // Looked at before it is opened, since opening some devices does something; then looked at
  // again on the descriptor, which is what is read.
  struct stat st;
  if (::stat(host.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? NamedFileError::kMissing
                                               : NamedFileError::kUnreadable;
  if (!S_ISREG(st.st_mode)) return NamedFileError::kNotRegular;
  const int fd = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return NamedFileError::kUnreadable;
  NamedFileError result = NamedFileError::kNone;
  try {
    if (::fstat(fd, &st) != 0) {
      result = NamedFileError::kUnreadable;
    } else if (!S_ISREG(st.st_mode)) {
      result = NamedFileError::kNotRegular;
    } else if (uint64_t(st.st_size) > maxBytes) {
      result = NamedFileError::kTooLarge;
    } else {
      // The size is a first guess: a file that grows while it is read is read on to its end, as
      // long as it stays within the cap.
      out.resize(size_t(st.st_size) + 1);
      size_t got = 0;
      for (;;) {
        if (got == out.size()) {
          if (out.size() > maxBytes) {
            result = NamedFileError::kTooLarge;
            break;
          }
          out.resize(std::min(maxBytes + 1, std::max<size_t>(out.size() * 2, 4096)));
        }
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = NamedFileError::kUnreadable;
        if (n <= 0) break;
        got += size_t(n);
      }
      out.resize(got);
    }
  } catch (const std::bad_alloc&) {
    result = NamedFileError::kNoMemory;
  }
  ::close(fd);
  if (result != NamedFileError::kNone) std::vector<uint8_t>().swap(out);
  return result;
}

bool IsInsideFolder(const std::string& libraryPath, const std::string& folder) {
  std::error_code ec1, ec2;
  const std::filesystem::path path = std::filesystem::weakly_canonical(HostPath(libraryPath), ec1);
  const std::filesystem::path root = std::filesystem::weakly_canonical(HostPath(folder), ec2);
  if (ec1 || ec2 || root.empty()) return false;
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (r->empty()) continue;  // the empty last part of a root that ends in '/'
    if (p == path.end() || *p != *r) return false;
  }
  return true;
}

bool FileBytes::Make(size_t bytes) {
  Reset();
  data_ = static_cast<uint8_t*>(AllocateForWriting(std::max<size_t>(bytes, 1), &granted_));
  asked_ = data_ ? std::max<size_t>(bytes, 1) : 0;
  return data_ != nullptr;
}

void FileBytes::Reset() {
  FreeZeroed(data_, granted_, asked_);
  data_ = nullptr;
  size_ = asked_ = granted_ = 0;
}

bool ReadFileBytes(const std::string& libraryPath, FileBytes& out, size_t maxBytes) {
  out.Reset();
  FILE* f = OpenFile(libraryPath, "rb");
  if (!f) return false;
  struct stat st;
  bool whole = false;
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      uint64_t(st.st_size) <= maxBytes) {
    // A regular file of a known size: one buffer of that size, read in one piece.
    const size_t size = size_t(st.st_size);
    if (!out.Make(size)) {
      std::fclose(f);
      return false;
    }
    out.size_ = std::fread(out.data_, 1, size, f);
    uint8_t probe;
    whole = !std::ferror(f) && (out.size_ < size || std::fread(&probe, 1, 1, f) == 0);
  }
  std::fclose(f);
  if (whole) return true;
  // Anything else (no size, a file that grew while it was read): the general road.
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(libraryPath, bytes, maxBytes)) return false;
  if (!out.Make(bytes.size())) return false;
  std::copy(bytes.begin(), bytes.end(), out.data_);
  out.size_ = bytes.size();
  return true;
}

namespace {

std::atomic<unsigned> temporaryCounter{0};

// A temporary name beside `target` (a host path): short, whatever the target's length.
std::string TemporaryPath(const std::string& target, unsigned n) {
  const size_t slash = target.rfind('/');
  char name[40];
  std::snprintf(name, sizeof name, ".wz%x-%x.tmp", unsigned(::getpid()), n);
  return (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + name;
}

}  // namespace

std::string OutputHostPath(const std::string& libraryPath) {
  const size_t slash = Cp932FindLast(libraryPath, '\\');
  if (slash == std::string::npos) return Cp932ToHostBytes(libraryPath, true);
  const std::string folder = slash == 0 ? "/" : HostPath(libraryPath.substr(0, slash)) + "/";
  return folder + Cp932ToHostBytes(libraryPath.substr(slash + 1), true);
}

bool GetOutputFileId(const std::string& libraryPath, FileId& id) {
  id = FileId{};
  struct stat st;
  if (::stat(OutputHostPath(libraryPath).c_str(), &st) != 0) return false;
  id = FileId{true, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

std::string CaseVariantOf(const std::string& libraryPath) {
  const std::string exact = OutputHostPath(libraryPath);
  if (Exists(exact)) return {};
  // The folder is the one OutputHostPath found; only the name is matched, in the folder's kept
  // listing (a batch looks up a name per file in one folder).
  const size_t slash = exact.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : exact.substr(0, slash ? slash : 1);
  const std::string name = slash == std::string::npos ? exact : exact.substr(slash + 1);
  std::string found;
  if (!FindCaseInsensitive(folder, name, found) || found == name) return {};
  return LibraryPath(slash == std::string::npos ? found : exact.substr(0, slash + 1) + found);
}

ClaimResult ClaimNewFile(const std::string& libraryPath) {
  const int fd = ::open(OutputHostPath(libraryPath).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    return ClaimResult::kClaimed;
  }
  return errno == EEXIST || errno == ELOOP ? ClaimResult::kExists : ClaimResult::kFailed;
}

bool MakeFolders(const std::string& libraryFolder) {
  std::string host = HostPath(libraryFolder);
  while (host.size() > 1 && host.back() == '/')
    host.pop_back();
  std::error_code ec;
  std::filesystem::create_directories(host, ec);
  return std::filesystem::is_directory(host, ec);
}

bool RemoveOutputFile(const std::string& libraryPath) {
  return ::unlink(OutputHostPath(libraryPath).c_str()) == 0;
}

std::string AtomicFileWriter::PeekTemporaryPath(const std::string& libraryPath) {
  return TemporaryPath(OutputHostPath(libraryPath), temporaryCounter.load());
}

AtomicFileWriter::AtomicFileWriter(const std::string& libraryPath) {
  target_ = OutputHostPath(libraryPath);
  // O_EXCL makes the file here or fails, also when a link (even a dangling one) has the name;
  // a taken name is passed over.
  for (int attempt = 0; attempt < 64 && fd_ < 0; ++attempt) {
    temp_ = TemporaryPath(target_, temporaryCounter.fetch_add(1));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno != EEXIST && errno != ELOOP) break;
  }
  ok_ = fd_ >= 0;
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temp_.c_str());
  }
}

bool AtomicFileWriter::Write(std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (ok_ && done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok_ = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return ok_;
}

bool AtomicFileWriter::Commit() {
  if (fd_ < 0) return false;
  if (::close(fd_) != 0) ok_ = false;
  fd_ = -1;
  if (ok_ && ::rename(temp_.c_str(), target_.c_str()) != 0) ok_ = false;
  if (!ok_) ::unlink(temp_.c_str());
  return ok_;
}

bool WriteFileAtomically(const std::string& libraryPath, std::span<const uint8_t> bytes) {
  return WriteFileAtomically(libraryPath, {bytes});
}

bool WriteFileAtomically(const std::string& libraryPath,
                         std::initializer_list<std::span<const uint8_t>> parts) {
  AtomicFileWriter file(libraryPath);
  for (std::span<const uint8_t> bytes : parts) {
    if (!file.Write(bytes)) break;
  }
  return file.Commit();
}

}  // namespace wz::platform
