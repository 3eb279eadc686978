// network_door.h - the virtual printer as a network printer: raw print jobs
// over TCP (conventionally port 9100), like a receipt printer's network
// card. The waiting room and the jobs are a JobDoor's (job_door.h); this is
// its TCP listener.
#pragma once

#include "emulator/doors/job_door.h"

#include <cstdint>
#include <string>

namespace it433td::tools {

struct NetworkDoorOptions {
  std::string host = "127.0.0.1";  // a name or an address; "0.0.0.0" or "::" for all
  std::string port = "9100";       // "0": any free port (see port())
  JobLimits limits;
};

class NetworkDoor : public JobDoor {
public:
  // Binds and listens; throws std::system_error (or std::runtime_error for a
  // host that does not resolve).
  NetworkDoor(const NetworkDoorOptions &options, const DoorContext &context);

  std::uint16_t port() const { return port_; }
  // "127.0.0.1:9100", "[::1]:9100".
  const std::string &address() const { return address_; }

  std::vector<std::string> describe() const override;
  std::string title() const override { return address_; }
  std::vector<std::string> environment() const override {
    return {"IT433TD_PRINTER_ADDRESS=" + address_};
  }

private:
  NetworkDoor(int listener, const DoorContext &context, const JobLimits &limits);

  std::uint16_t port_ = 0;
  std::string address_;
};

// --listen [HOST:]PORT, --job-timeout S, --job-limit BYTES.
class NetworkDoorKind : public DoorKind {
public:
  void addOptions(CLI::App &command) override;
  std::string howToAsk() const override { return "--listen [HOST:]PORT"; }
  bool wanted() const override { return !listen.empty(); }
  void prepare() override;
  std::unique_ptr<Door> open(const DoorContext &context) override;

  std::string listen;
  unsigned jobTimeoutSeconds = 60;
  std::uint64_t jobLimit = std::uint64_t{16} << 20;
  NetworkDoor *door = nullptr;  // the door open() opened, while the session has it

private:
  NetworkDoorOptions options_;  // made by prepare()
};

}  // namespace it433td::tools
