// The POSIX process runner: posix_spawn with standard output on a pipe.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "testing/process_runner.h"

extern char** environ;

namespace srctally::testing {

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extraEnv,
                         const std::filesystem::path& workingDir, ChildError error) {
  ProcessResult result;
  result.exitCode = -1000;
  if (argv.empty()) return result;

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (extraEnv.count(text.substr(0, text.find('='))) == 0) environment.push_back(text);
  }
  for (const auto& [name, value] : extraEnv) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& text : args) argp.push_back(text.data());
  argp.push_back(nullptr);

  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return result;
  int errorEnds[2] = {-1, -1};
  if (error == ChildError::kCaptured && ::pipe(errorEnds) != 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  if (errorEnds[1] >= 0) {
    posix_spawn_file_actions_adddup2(&actions, errorEnds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, errorEnds[0]);
    posix_spawn_file_actions_addclose(&actions, errorEnds[1]);
  }
  if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (errorEnds[1] >= 0) ::close(errorEnds[1]);
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    if (errorEnds[0] >= 0) ::close(errorEnds[0]);
    return result;
  }
  // Both pipes at once: a child that fills one while the other is read would wait forever.
  struct pollfd ends[2] = {{pipeEnds[0], POLLIN, 0}, {errorEnds[0], POLLIN, 0}};
  std::string* const into[2] = {&result.stdoutBytes, &result.stderrBytes};
  char buffer[4096];
  while (ends[0].fd >= 0 || ends[1].fd >= 0) {
    if (::poll(ends, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (ends[i].fd < 0 || ends[i].revents == 0) continue;
      const ssize_t count = ::read(ends[i].fd, buffer, sizeof(buffer));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        ::close(ends[i].fd);
        ends[i].fd = -1;  // poll passes over a negative descriptor
        continue;
      }
      into[i]->append(buffer, static_cast<std::size_t>(count));
    }
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitCode = 128 + WTERMSIG(status);
  }
  return result;
}

}  // namespace srctally::testing
