// The status conversation with a printer played on the pty master:
// 10 04 01, then 10 04 02 when offline or 10 04 04 when online, one answer
// byte each. Answer bytes carry the convention's fixed bits (0x12).
#include <fstream>

#include "device_fixture.h"

namespace {

const std::vector<uint8_t> kAskPrinter = {0x10, 0x04, 0x01};
const std::vector<uint8_t> kAskCause = {0x10, 0x04, 0x02};
const std::vector<uint8_t> kAskPaper = {0x10, 0x04, 0x04};

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace

class StatusTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
    ASSERT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port(), 300, 0), MEGENCOM32_OK);
  }
  const char *port() const { return tty_.c_str(); }
};

TEST_F(StatusTest, OnlinePrinterWithPaper) {
  StatusPrinter printer(pty_.master(), {{1, 0x12}, {4, 0x12}});
  int32_t byte = 0;
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), &byte), MEGENCOM32_OK);
  EXPECT_EQ(byte, 0x12);
  EXPECT_EQ(printer.received(), joined({kAskPrinter, kAskPaper}));
}

TEST_F(StatusTest, PaperEndOnTheSensorIsPaperOut) {
  StatusPrinter printer(pty_.master(), {{1, 0x12}, {4, 0x72}});
  int32_t byte = 0;
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), &byte), MEGENCOM32_PAPER_OUT);
  EXPECT_EQ(byte, 0x72);
}

TEST_F(StatusTest, OfflineStoppedAtPaperEndIsPaperOut) {
  StatusPrinter printer(pty_.master(), {{1, 0x1A}, {2, 0x32}});
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), nullptr), MEGENCOM32_PAPER_OUT);
  EXPECT_EQ(printer.received(), joined({kAskPrinter, kAskCause}));
}

TEST_F(StatusTest, OfflineWithCoverOpenIsOffline) {
  StatusPrinter printer(pty_.master(), {{1, 0x1A}, {2, 0x16}});
  int32_t byte = 0;
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), &byte), MEGENCOM32_OFFLINE);
  EXPECT_EQ(byte, 0x16);
  char message[64];
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port(), 100, message, sizeof message),
            MEGENCOM32_OFFLINE);
  EXPECT_STREQ(message, "offline: cover open");
}

TEST_F(StatusTest, SilentPrinterIsNoAnswerWithinTheReadTimeout) {
  StatusPrinter printer(pty_.master(), {});
  int32_t byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), &byte), MEGENCOM32_NO_ANSWER);
  EXPECT_LT(callMs(start), 3000);
  EXPECT_EQ(byte, -1);
  EXPECT_EQ(printer.received(), kAskPrinter);
}

TEST_F(StatusTest, StaleInputIsNotTakenForTheAnswer) {
  // A byte that says "paper out" is waiting before the question is asked.
  pty_.writeMaster({0x72, 0x1A});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  StatusPrinter printer(pty_.master(), {{1, 0x12}, {4, 0x12}});
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port(), nullptr), MEGENCOM32_OK);
}

TEST_F(StatusTest, MessageInWordsIsCutToTheCapacity) {
  StatusPrinter printer(pty_.master(), {{1, 0x12}, {4, 0x1E}});
  char message[64];
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port(), 100, message, sizeof message), MEGENCOM32_OK);
  EXPECT_STREQ(message, "online, paper near end");
  char small[7];
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port(), 100, small, sizeof small), MEGENCOM32_OK);
  EXPECT_STREQ(small, "online");
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port(), 100, nullptr, 10), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port(), 100, small, 0), MEGENCOM32_BAD_ARGUMENT);
}

TEST_F(DeviceTest, WriteOnlyPortsAreNeverAskedNorRead) {
  const std::string path = tempPath("capture.prn");
  const std::string port = portName(path);
  { std::ofstream(path) << ""; }
  ASSERT_EQ(openPort(port), MEGENCOM32_OK);
  int32_t byte = 0;
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo(port.c_str(), &byte), MEGENCOM32_NO_ANSWER);
  EXPECT_EQ(byte, -1);
  char message[16];
  EXPECT_EQ(MEGENCOM32_AguardaImpressaoStr(port.c_str(), 100, message, sizeof message),
            MEGENCOM32_NO_ANSWER);
  EXPECT_STREQ(message, "no answer");
  // Nothing to read there either: a port written only, not a silent device.
  uint8_t buffer[4];
  int32_t got = -1;
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port.c_str(), buffer, sizeof buffer, &got),
            MEGENCOM32_IO_ERROR);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(readFile(path), "");
  EXPECT_EQ(MEGENCOM32_StatusDoDispositivo("nothing-open", &byte), MEGENCOM32_NOT_OPEN);
}
