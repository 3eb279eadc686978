// Runs it433td as a child process: to completion (run), or in the
// background (Background, for `it433td emulate`) with its output read line
// by line.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tool_test {

struct Finished {
  int exitStatus = -1;  // -1: killed by a signal or not started
  std::string out;
  std::string err;
};

// Runs `program args...` with extra environment entries ("NAME=value"),
// waits for it (at most `limit`, then kills it) and collects its output.
Finished run(const std::filesystem::path &program, const std::vector<std::string> &args,
             const std::vector<std::string> &environment = {},
             std::chrono::seconds limit = std::chrono::seconds(60));

class Background {
public:
  Background(const std::filesystem::path &program, const std::vector<std::string> &args);
  ~Background();  // SIGKILL if still running
  Background(const Background &) = delete;
  Background &operator=(const Background &) = delete;

  // Reads standard output until a line containing `text` (true) or the time
  // is up or the output ends (false). Everything read is kept in output().
  bool waitForLine(const std::string &text, std::chrono::milliseconds limit);
  void signal(int number) const;
  // Waits for the exit; the exit status, or -1.
  int wait(std::chrono::seconds limit);
  const std::string &output() const { return output_; }

private:
  int pid_ = -1;
  int out_ = -1;
  std::string output_;
  std::size_t seen_ = 0;
};

// A fresh folder under the temporary folder, removed at the end.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  std::filesystem::path path;
};

std::string readFile(const std::filesystem::path &path);

}  // namespace tool_test
