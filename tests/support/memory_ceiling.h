// Ceilings on memory and time for tests that feed hostile input to readers, so that a test can
// show that an input costs memory in proportion to its size and time in proportion to its work.
//
// Memory: the test binary counts every allocation made through operator new (memory_ceiling.cpp
// replaces the global operators). While an AllocationCeiling lives, an allocation that would
// raise the live total more than `allowance` bytes above what was live when the ceiling was set
// fails as an exhausted heap fails (std::bad_alloc, or null for the nothrow forms), and the
// ceiling remembers it. Allocations of C libraries (malloc) are not counted.
//
// Time: RunWithTimeout runs work in a child process that an alarm ends.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <functional>

namespace wz::testing {

inline constexpr size_t kMiB = size_t{1} << 20;

// The ceiling for an input of `inputBytes`: 256 MB plus 16 times the input.
inline size_t InputAllowance(size_t inputBytes) {
  return 256 * kMiB + 16 * inputBytes;
}

class AllocationCeiling {
 public:
  explicit AllocationCeiling(size_t allowance);
  ~AllocationCeiling();
  AllocationCeiling(const AllocationCeiling&) = delete;
  AllocationCeiling& operator=(const AllocationCeiling&) = delete;

  // An allocation failed at the ceiling.
  bool Reached() const;
  // The highest live total above the start, in bytes.
  size_t Peak() const;
};

enum class ChildOutcome { kFinished, kTimedOut, kCrashed };

struct ChildResult {
  ChildOutcome outcome = ChildOutcome::kCrashed;
  int exitCode = -1;  // kFinished: what the work returned
};

// Runs `work` in a child process that may run for `seconds`; `work` returns the exit code.
inline ChildResult RunWithTimeout(unsigned seconds, const std::function<int()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    ::_exit(work());
  }
  ChildResult r;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return r;
  if (WIFEXITED(status)) {
    r.outcome = ChildOutcome::kFinished;
    r.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    r.outcome = ChildOutcome::kTimedOut;
  }
  return r;
}

}  // namespace wz::testing
