// Running programs from a benchmark, for timings of whole processes as a user
// meets them.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace wz::bench {

// Starts a program with the environment and `extraEnv`, its standard error discarded and, with
// `quiet`, its output too; the process id, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                   bool quiet) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(extraEnv);
  for (char** e = environ; *e; ++e)
    envStrings.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envStrings)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Runs a program to completion with its output discarded; its exit status, or -1.
inline int Run(const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {}) {
  const pid_t pid = Spawn(args, extraEnv, true);
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program built beside the running benchmark (wz-convert, wz-normalmap).
inline std::string BuiltProgram(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

}  // namespace wz::bench
