// Win32 system services the library relies on: module path, current directory, version query,
// processor affinity and CPUID, clocks and sleeping. Paths are library paths (backslashes, code
// page 932), see file_io.h.
#pragma once

#include <cstdint>
#include <string>

namespace wz::platform {

// Full library path of the running program (`/home/a/bin/tool` is seen as `\home\a\bin\tool`),
// whatever its length: a path cut to a fixed buffer would name another folder.
std::string GetModuleFileNameA();
// The host path of the file the library's code was loaded from: the shared library, or the
// program it is linked into. Empty when the system does not say.
std::string CodeModulePath();
// Test hook: the module path GetModuleFileNameA reports (a library path); empty restores the
// real one.
void SetModuleFileNameForTesting(const std::string& libraryPath);

// Current directory in library form, whatever its length; empty when it cannot be read.
std::string GetCurrentDirectoryA();

// Changes the current directory (library path, mapped to the host). False on failure.
bool SetCurrentDirectoryA(const std::string& libraryPath);

// The version record of GetVersionExA. The layer reports one fixed Windows version.
struct OsVersionInfo {
  uint32_t majorVersion;
  uint32_t minorVersion;
  uint32_t buildNumber;
  uint32_t platformId;  // 0 Win32s, 1 Windows 95/98/Me, 2 NT
};
constexpr uint32_t VER_PLATFORM_WIN32s = 0;
constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
// The version this platform layer reports: NT 6.1.
constexpr OsVersionInfo kReportedWindowsVersion{6, 1, 7601, VER_PLATFORM_WIN32_NT};
bool GetVersionExA(OsVersionInfo& out);

// The process's CPU set as an affinity mask (bit n = CPU n may run the process; CPUs past 63 are
// not represented). False when the CPU set cannot be read.
bool GetProcessAffinityMask(uint64_t& processMask, uint64_t& systemMask);
// The number of processors the process may run on (at least 1).
unsigned UsableProcessorCount();

// CPUID leaf/subleaf. On processors without CPUID all registers are 0.
struct CpuidRegisters {
  uint32_t eax, ebx, ecx, edx;
};
CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf = 0);

// Performance counter from the monotonic clock (nanosecond ticks).
bool QueryPerformanceFrequency(int64_t& frequency);
bool QueryPerformanceCounter(int64_t& counter);

// Milliseconds from the monotonic clock, wrapping at 2^32.
uint32_t timeGetTime();
void timeBeginPeriod(uint32_t periodMs);
void Sleep(uint32_t milliseconds);

// An on/off switch from the environment: on when the variable is set to anything but "" or "0"
// (WZ_LOG=0 is off, as a person writing it means).
bool EnvironmentSwitch(const char* name);
// The value of an environment variable; empty when it is not set.
std::string EnvironmentValue(const char* name);

// Seconds since the epoch (the C library's time()).
int64_t CurrentTimeSeconds();

}  // namespace wz::platform
