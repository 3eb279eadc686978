// child_command.cpp - posix_spawnp, waitpid and kill.
#include "emulator/run/child_command.h"

#include "common/shown_text.h"
#include "common/tool_error.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace it433td::tools {

namespace {

std::string nameOf(const std::string &variable) { return variable.substr(0, variable.find('=')); }

std::vector<std::string> environmentWith(const std::vector<std::string> &added) {
  std::vector<std::string> environment(added);
  for (char **entry = environ; *entry; ++entry) {
    const std::string variable(*entry);
    bool replaced = false;
    for (const std::string &mine : added) replaced = replaced || nameOf(mine) == nameOf(variable);
    if (!replaced) environment.push_back(variable);
  }
  return environment;
}

std::vector<char *> pointersTo(std::vector<std::string> &words) {
  std::vector<char *> pointers;
  for (std::string &word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildCommand::ChildCommand(const std::vector<std::string> &argv,
                           const std::vector<std::string> &environment, const sigset_t &mask) {
  std::vector<std::string> words(argv);
  std::vector<std::string> variables = environmentWith(environment);
  std::vector<char *> args = pointersTo(words);
  std::vector<char *> envp = pointersTo(variables);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  // glibc reports a program that cannot be executed here, not as an exit
  // status of the child.
  const int failed = ::posix_spawnp(&pid_, args[0], nullptr, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    pid_ = -1;
    const bool missing = failed == ENOENT || failed == ENOTDIR;
    throw ToolError(missing ? kExitCommandNotFound : kExitCommandNotRunnable,
                    "cannot run \"" + shownText(argv[0]) + "\": " + std::strerror(failed));
  }
}

ChildCommand::~ChildCommand() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

std::optional<int> ChildCommand::ended() {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
  status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  return status_;
}

void ChildCommand::signal(int number) const {
  if (pid_ > 0 && !status_) ::kill(pid_, number);
}

std::string commandLineText(const std::vector<std::string> &argv) {
  std::string text;
  for (const std::string &word : argv) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=:,+@%") == std::string::npos;
    std::string shown = plain ? word : "'";
    if (!plain) {
      for (char c : word) shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
      shown += "'";
    }
    text += (text.empty() ? "" : " ") + shown;
  }
  return shownText(text);
}

}  // namespace it433td::tools
