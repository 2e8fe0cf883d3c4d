// System services on Linux.
#include "platform/system.h"

#include <sched.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/file_io.h"

namespace wz::platform {
namespace {

std::string CutTo(std::string s, size_t bufferSize) {
  if (bufferSize == 0) return {};
  if (s.size() > bufferSize - 1) s.resize(bufferSize - 1);
  return s;
}

std::mutex modulePathMutex;
std::string modulePathOverride;

}  // namespace

void SetModuleFileNameForTesting(const std::string& libraryPath) {
  std::lock_guard lock(modulePathMutex);
  modulePathOverride = libraryPath;
}

std::string GetModuleFileNameA(size_t bufferSize) {
  {
    std::lock_guard lock(modulePathMutex);
    if (!modulePathOverride.empty()) return CutTo(modulePathOverride, bufferSize);
  }
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return CutTo(LibraryPath(std::string(buffer, static_cast<size_t>(n))), bufferSize);
}

std::string GetCurrentDirectoryA(size_t bufferSize) {
  char buffer[4096];
  if (!::getcwd(buffer, sizeof buffer)) return {};
  return CutTo(LibraryPath(buffer), bufferSize);
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

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace wz::platform
