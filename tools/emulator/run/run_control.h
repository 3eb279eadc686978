// run_control.h - a run's private control socket, through which COMMAND
// names the receipts it prints: `it433td label NAME`, the bindings'
// label(name), the pytest plugin.
//
// A Unix stream socket, mode 0600, in a folder of the run's that only its
// user may enter (mode 0700); COMMAND finds it through IT433TD_RUN_SOCKET.
// One request a connection, one line: "label NAME\n", answered "ok\n" once
// the receipts printed from then on are NAME's, or "error WHY\n".
//
// Whoever reaches the socket is treated as hostile: a peer of another user
// is refused (SO_PEERCRED), connections are served one at a time (others
// wait in a listen queue of 16), a request must arrive whole within 5 s and
// is at most 1 KiB, nothing past its line is read, and the answer gets 5 s
// to be taken.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace it433td::tools {

constexpr const char *kRunSocketVariable = "IT433TD_RUN_SOCKET";
constexpr std::size_t kMaxControlRequestBytes = 1024;

class RunControl {
public:
  // What a label request does: "" once the label holds, or why it cannot.
  using LabelHandler = std::function<std::string(const std::string &label)>;

  // Makes the socket `folder`/control (the folder must be the run's own,
  // mode 0700) and serves it on a thread of its own. Throws ToolError
  // (kExitNoModule) when the socket cannot be made.
  RunControl(const std::filesystem::path &folder, LabelHandler onLabel);
  ~RunControl();  // stops serving and removes the socket
  RunControl(const RunControl &) = delete;
  RunControl &operator=(const RunControl &) = delete;

  // "IT433TD_RUN_SOCKET=/tmp/it433td-run-Xa81Qz/control", for COMMAND.
  std::string environment() const;

private:
  void serve();
  void answer(int connection);

  std::filesystem::path path_;
  LabelHandler onLabel_;
  int listening_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::thread thread_;
};

// The client's side, as `it433td label` and the C host's example do it:
// sends "label NAME" to the socket IT433TD_RUN_SOCKET names and waits for
// the answer (at most `timeout`). Returns "" once the label holds, or why
// not (outside a run, the run gone, the name refused).
std::string requestLabel(const std::string &name, std::chrono::milliseconds timeout);

}  // namespace it433td::tools
