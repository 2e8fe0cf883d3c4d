// Runs a piece of work in a child process with a ceiling on its memory and time, so that a test
// can show that a hostile input costs memory in proportion to its size: the child's address space
// may grow by at most `allowance` bytes beyond what it held when it was forked (RLIMIT_AS), and an
// allocation that would pass the ceiling ends the child at once (a new-handler), before any code
// can turn the failure into a polite refusal. An alarm ends a child that runs too long.
// Sanitizer builds reserve terabytes of shadow memory, which no address-space limit can leave
// room for; there the ceiling cannot be measured and the runner says so.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <new>
#include <string>

namespace wz::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kMemoryCeilingAvailable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
inline constexpr bool kMemoryCeilingAvailable = false;
#else
inline constexpr bool kMemoryCeilingAvailable = true;
#endif
#else
inline constexpr bool kMemoryCeilingAvailable = true;
#endif

enum class ChildOutcome { kFinished, kOutOfMemory, kTimedOut, kCrashed };

struct ChildResult {
  ChildOutcome outcome = ChildOutcome::kCrashed;
  int exitCode = -1;  // kFinished: what the work returned (0 to 100)
  std::string Describe() const {
    switch (outcome) {
      case ChildOutcome::kFinished:
        return "finished with " + std::to_string(exitCode);
      case ChildOutcome::kOutOfMemory:
        return "passed its memory ceiling";
      case ChildOutcome::kTimedOut:
        return "ran out of time";
      case ChildOutcome::kCrashed:
        return "crashed";
    }
    return "?";
  }
};

inline constexpr size_t kMiB = size_t{1} << 20;
inline constexpr int kOutOfMemoryExit = 111;

// The ceiling for an input of `inputBytes`: 256 MB plus 16 times the input.
inline size_t InputAllowance(size_t inputBytes) {
  return 256 * kMiB + 16 * inputBytes;
}

// Runs `work` in a child. The child may grow its address space by `allowance` bytes and run for
// `seconds`; `work` returns the child's exit code (0 to 100). With `endAtCeiling` false, an
// allocation past the ceiling fails as it would in a program (std::bad_alloc, a null malloc).
inline ChildResult RunWithCeiling(size_t allowance, unsigned seconds,
                                  const std::function<int()>& work, bool endAtCeiling = true) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    size_t pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%zu", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlim_t now = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
    const rlimit limit{now + allowance, now + allowance};
    ::setrlimit(RLIMIT_AS, &limit);
    if (endAtCeiling) std::set_new_handler([] { ::_exit(kOutOfMemoryExit); });
    ::alarm(seconds);
    ::_exit(work());
  }
  ChildResult r;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return r;
  if (WIFEXITED(status)) {
    r.exitCode = WEXITSTATUS(status);
    r.outcome =
        r.exitCode == kOutOfMemoryExit ? ChildOutcome::kOutOfMemory : ChildOutcome::kFinished;
  } else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    r.outcome = ChildOutcome::kTimedOut;
  }
  return r;
}

}  // namespace wz::testing
