// Path mapping and whole-file helpers over the host file system.
#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/text.h"

namespace wz::platform {
namespace {

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0;
}

// Finds `name` in `dir` without regard to ASCII case. Returns false when there is no match.
bool FindCaseInsensitive(const std::string& dir, const std::string& name, std::string& found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool ok = false;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      ok = true;
      break;
    }
  }
  ::closedir(d);
  return ok;
}

}  // namespace

std::string HostPath(const std::string& libraryPath) {
  std::string p = libraryPath;
  if (!IsValidUtf8(p)) p = Cp932ToUtf8(p);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
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
  std::string p = IsValidUtf8(hostPath) ? Utf8ToCp932(hostPath) : hostPath;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

FILE* OpenFile(const std::string& libraryPath, const char* mode) {
  return std::fopen(HostPath(libraryPath).c_str(), mode);
}

bool FileExists(const std::string& libraryPath) {
  std::string host = HostPath(libraryPath);
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(host.c_str(), R_OK) == 0;
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

bool WriteFileAtomically(const std::string& libraryPath, std::span<const uint8_t> bytes) {
  static std::atomic<unsigned> counter{0};
  std::string target = HostPath(libraryPath);
  std::string temp =
      target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace wz::platform
