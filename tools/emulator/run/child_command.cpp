// child_command.cpp - posix_spawnp, waitpid and kill, to the whole group.
#include "emulator/run/child_command.h"

#include "common/shown_text.h"
#include "common/tool_error.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <set>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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

// Our children right now, from every thread's list in /proc (orphans
// that came back to us included).
std::vector<pid_t> childrenOfUs() {
  std::vector<pid_t> children;
  std::error_code ec;
  for (std::filesystem::directory_iterator task("/proc/self/task", ec), end; !ec && task != end;
       task.increment(ec)) {
    std::ifstream list(task->path() / "children");
    for (long pid = 0; list >> pid;) children.push_back(static_cast<pid_t>(pid));
  }
  return children;
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
  // Orphans of COMMAND's tree come back to us, not to init: endTree()
  // reaches them even when they left COMMAND's group.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  const bool foreground = ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (foreground) {
    terminal_ = STDIN_FILENO;
    posix_spawn_file_actions_addtcsetpgrp_np(&actions, STDIN_FILENO);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, named by its ID
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  // glibc reports a program that cannot be executed here, not as an exit
  // status of the child.
  const int failed =
      ::posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    pid_ = -1;
    if (foreground) takeTerminal(::getpgrp());
    const bool missing = failed == ENOENT || failed == ENOTDIR;
    throw ToolError(missing ? kExitCommandNotFound : kExitCommandNotRunnable,
                    "cannot run \"" + shownText(argv[0]) + "\": " + std::strerror(failed));
  }
}

ChildCommand::~ChildCommand() {
  if (pid_ > 0) endTree(std::chrono::milliseconds(0));
}

std::optional<int> ChildCommand::ended() {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  // Stops matter only at a terminal, where the shell's job control expects
  // them to stop the whole job.
  if (::waitpid(pid_, &status, WNOHANG | (terminal_ >= 0 ? WUNTRACED : 0)) != pid_)
    return std::nullopt;
  if (WIFSTOPPED(status)) {
    // Ctrl-Z: the terminal back to the shell, and we stop with COMMAND;
    // once continued, COMMAND goes on too, in the foreground if we are.
    takeTerminal(::getpgrp());
    ::kill(::getpid(), SIGSTOP);
    if (::tcgetpgrp(terminal_) == ::getpgrp()) takeTerminal(pid_);
    ::kill(-pid_, SIGCONT);
    return std::nullopt;
  }
  status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  if (terminal_ >= 0) takeTerminal(::getpgrp());  // a Ctrl-C now stops the final wait
  return status_;
}

void ChildCommand::signal(int number) const {
  if (pid_ > 0 && !treeEnded_) ::kill(-pid_, number);
}

bool ChildCommand::endTree(std::chrono::milliseconds grace) {
  if (pid_ <= 0 || treeEnded_) return false;
  treeEnded_ = true;
  // Reaps what has ended; false once nothing is left to reap.
  const auto reap = [this] {
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(-1, &status, WNOHANG)) > 0)
      if (reaped == pid_ && !status_)
        status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return !(reaped < 0 && errno == ECHILD);
  };
  const bool running = reap() && (!childrenOfUs().empty() || ::kill(-pid_, 0) == 0);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  // SIGKILL ends everything but a process stuck in the kernel: not waited
  // for past a few seconds more.
  const auto givenUp = deadline + std::chrono::seconds(5);
  std::set<pid_t> told;  // SIGTERM once each; SIGKILL after the grace, again and again
  bool groupTold = false;
  while (running && std::chrono::steady_clock::now() < givenUp) {
    const bool graceOver = std::chrono::steady_clock::now() >= deadline;
    if (graceOver || !groupTold) ::kill(-pid_, graceOver ? SIGKILL : SIGTERM);
    groupTold = true;
    for (const pid_t child : childrenOfUs())
      if (graceOver || told.insert(child).second) ::kill(child, graceOver ? SIGKILL : SIGTERM);
    if (!reap()) break;
    ::usleep(10'000);
  }
  if (terminal_ >= 0) takeTerminal(::getpgrp());
  return running;
}

void ChildCommand::takeTerminal(pid_t group) const {
  // From a background group tcsetpgrp raises SIGTTOU, unless it is blocked.
  sigset_t ttou, before;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &ttou, &before);
  ::tcsetpgrp(terminal_, group);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
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
