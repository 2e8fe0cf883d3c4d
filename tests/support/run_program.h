// Runs a program of the build with extra environment variables and collects its exit code and
// standard error.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace wz::testing {

struct ProgramResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

inline ProgramResult RunProgram(const std::string& commandLine) {
  ProgramResult result;
  FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    result.output.append(buffer.data(), n);
  }
  int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace wz::testing
