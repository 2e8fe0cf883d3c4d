// System services on Linux.
#include "platform/system.h"

#include <dlfcn.h>
#include <sched.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/file_io.h"

namespace wz::platform {
namespace {

std::mutex modulePathMutex;
std::string modulePathOverride;

}  // namespace

void SetModuleFileNameForTesting(const std::string& libraryPath) {
  std::lock_guard lock(modulePathMutex);
  modulePathOverride = libraryPath;
}

std::string GetModuleFileNameA() {
  {
    std::lock_guard lock(modulePathMutex);
    if (!modulePathOverride.empty()) return modulePathOverride;
  }
  std::string buffer(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return LibraryPath(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetCurrentDirectoryA() {
  std::unique_ptr<char, void (*)(void*)> cwd(::getcwd(nullptr, 0), std::free);
  if (!cwd) return {};
  return LibraryPath(cwd.get());
}

bool SetCurrentDirectoryA(const std::string& libraryPath) {
  return ::chdir(HostPath(libraryPath).c_str()) == 0;
}

bool GetVersionExA(OsVersionInfo& out) {
  out = kReportedWindowsVersion;
  return true;
}

bool GetProcessAffinityMask(uint64_t& processMask, uint64_t& systemMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return false;
  processMask = 0;
  for (int i = 0; i < 64; ++i) {
    if (CPU_ISSET(i, &set)) processMask |= uint64_t{1} << i;
  }
  long online = ::sysconf(_SC_NPROCESSORS_CONF);
  systemMask = online >= 64 ? ~uint64_t{0} : (uint64_t{1} << (online > 0 ? online : 1)) - 1;
  return true;
}

unsigned UsableProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int n = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
  return n > 0 ? unsigned(n) : std::max(1u, std::thread::hardware_concurrency());
}

CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegisters r{0, 0, 0, 0};
#if defined(__x86_64__) || defined(__i386__)
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
  (void)leaf;
  (void)subleaf;
#endif
  return r;
}

bool QueryPerformanceFrequency(int64_t& frequency) {
  frequency = 1'000'000'000;
  return true;
}

bool QueryPerformanceCounter(int64_t& counter) {
  counter = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return true;
}

uint32_t timeGetTime() {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void timeBeginPeriod(uint32_t) {}

void Sleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

bool EnvironmentSwitch(const char* name) {
  const char* value = std::getenv(name);
  return value && *value && std::string_view(value) != "0";
}

std::string CodeModulePath() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&CodeModulePath), &info) || !info.dli_fname) return {};
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.string();
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace wz::platform
