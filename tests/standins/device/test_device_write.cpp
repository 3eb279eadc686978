// Writing: bytes arrive unchanged, and a dead or stalled device answers a
// distinct status within the write timeout instead of blocking the host.
#include <fstream>
#include <numeric>

#include "device_fixture.h"

namespace {

std::vector<uint8_t> everyByteValue() {
  std::vector<uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), 0);
  return bytes;
}

}  // namespace

TEST_F(DeviceTest, BytesArriveUnchangedWithoutCarriageReturns) {
  ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  const std::vector<uint8_t> frame = {0x0F, 'a', 0x00, 'b', 0x0A, 0x0D, 0x0A, 0x12};
  int32_t written = -1;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(tty_.c_str(), frame.data(),
                                             static_cast<int32_t>(frame.size()), &written),
            MEGENCOM32_OK);
  EXPECT_EQ(written, static_cast<int32_t>(frame.size()));
  EXPECT_EQ(pty_.readMaster(frame.size() + 1, 300), frame);

  // Every byte value, with five zeros too.
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_OK);
  ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  const std::vector<uint8_t> all = everyByteValue();
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(tty_.c_str(), all.data(), 256, &written),
            MEGENCOM32_OK);
  EXPECT_EQ(written, 256);
  EXPECT_EQ(pty_.readMaster(257, 300), all);
}

TEST_F(DeviceTest, WrongWriteCallsAnswerTheirStatusAndClearTheCount) {
  int32_t written = 99;
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(tty_.c_str(), "x", 1, &written),
            MEGENCOM32_NOT_OPEN);
  EXPECT_EQ(written, 0);
  ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  const char *port = tty_.c_str();
  written = 99;
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, nullptr, 1, &written), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, "x", -1, &written), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, "x", 1, nullptr), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(nullptr, "x", 1, &written), MEGENCOM32_BAD_ARGUMENT);
  written = 99;
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, nullptr, 0, &written), MEGENCOM32_OK);
  EXPECT_EQ(written, 0);
  EXPECT_TRUE(pty_.readMaster(1, 100).empty());
}

TEST_F(DeviceTest, StalledReaderGivesPartialCountAndTimeout) {
  ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  const char *port = tty_.c_str();
  ASSERT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port, 0, 300), MEGENCOM32_OK);
  const std::vector<uint8_t> big(4 * 1024 * 1024, 'x');  // far more than a pty buffers
  int32_t written = -1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, big.data(), static_cast<int32_t>(big.size()),
                                             &written),
            MEGENCOM32_TIMEOUT);
  EXPECT_GE(callMs(start), 250);
  EXPECT_LT(callMs(start), 3000);
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int32_t>(big.size()));
  // What the count says went out is what the master can read.
  EXPECT_EQ(pty_.readMaster(big.size(), 1000).size(), static_cast<size_t>(written));
}

TEST_F(DeviceTest, RegularFileIsAppendedToAndNeverCreated) {
  const std::string path = tempPath("capture.prn");
  const std::string port = portName(path);
  EXPECT_EQ(openPort(port), MEGENCOM32_NO_SUCH_PORT);
  { std::ofstream(path, std::ios::binary) << "before|"; }
  ASSERT_EQ(openPort(port), MEGENCOM32_OK);
  int32_t written = -1;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port.c_str(), "a\0\nb", 4, &written), MEGENCOM32_OK);
  EXPECT_EQ(written, 4);
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(port.c_str()), MEGENCOM32_OK);
  // Line settings are checked, then there is nothing to set on a file.
  EXPECT_EQ(openPort(port, 57600, 'Z', 8, 1, 1), MEGENCOM32_BAD_SETTINGS);
  ASSERT_EQ(openPort(port, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port.c_str(), "c", 1, &written), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(port.c_str()), MEGENCOM32_OK);
  EXPECT_EQ(readFile(path), std::string("before|a\0\nbc", 12));
}

