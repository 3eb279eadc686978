#include "device_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

PtyPair::PtyPair() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return;
  }
  slavePath_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  closeMaster();
  if (slave_ >= 0) close(slave_);
}

void PtyPair::closeMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

std::vector<uint8_t> PtyPair::readMaster(size_t count, int timeoutMs) {
  std::vector<uint8_t> bytes;
  auto start = std::chrono::steady_clock::now();
  while (bytes.size() < count && elapsedMs(start) < timeoutMs) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t chunk[4096];
    ssize_t n = read(master_, chunk, sizeof chunk);
    if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

void PtyPair::writeMaster(const std::vector<uint8_t> &bytes) {
  ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

StatusPrinter::StatusPrinter(int master, std::map<int, uint8_t> answers)
    : master_(master), answers_(std::move(answers)), thread_([this] { run(); }) {}

StatusPrinter::~StatusPrinter() {
  stop_ = true;
  thread_.join();
}

std::vector<uint8_t> StatusPrinter::received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void StatusPrinter::run() {
  std::vector<uint8_t> pending;
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    uint8_t chunk[256];
    ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.insert(received_.end(), chunk, chunk + n);
    }
    pending.insert(pending.end(), chunk, chunk + n);
    while (pending.size() >= 3) {
      if (pending[0] == 0x10 && pending[1] == 0x04) {
        auto answer = answers_.find(pending[2]);
        if (answer != answers_.end()) (void)!write(master_, &answer->second, 1);
        pending.erase(pending.begin(), pending.begin() + 3);
      } else {
        pending.erase(pending.begin());
      }
    }
  }
}

void DeviceTest::SetUp() {
  char pattern[] = "/tmp/megencom32-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  // Each case runs in its own process: the mapping folder is this case's own.
  setenv("IT433TD_PORTS", folder_.c_str(), 1);
  tty_ = portName(pty_.slavePath());
  device_backend::start(folder_);
}

void DeviceTest::TearDown() {
  for (const std::string &name : opened_) MEGENCOM32_FecharDispositivo(name.c_str());
  MEGENCOM32_AtivarLOG(0, nullptr);
  device_backend::stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string DeviceTest::readFile(const std::string &path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int32_t DeviceTest::openPort(const std::string &name, int speed, int parity, int data, int stop,
                             int flow) {
  int32_t status = MEGENCOM32_AbrirDispositivo(name.c_str(), speed, parity, data, stop, flow);
  if (status == MEGENCOM32_OK) opened_.push_back(name);
  return status;
}
