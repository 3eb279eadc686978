// Reading, preparing a job, waiting for output, and the timeouts.
#include "device_fixture.h"

TEST_F(OpenPtyTest, ReadTakesWhatTheDeviceSent) {
  pty_.writeMaster({0x00, 0x0D, 0x0A, 0x41});
  uint8_t buffer[16];
  int32_t got = -1;
  ASSERT_EQ(MEGENCOM32_LeroDispositivo(port(), buffer, sizeof buffer, &got), MEGENCOM32_OK);
  ASSERT_EQ(got, 4);  // raw input: no CR to LF, nothing held back for a line end
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{0x00, 0x0D, 0x0A, 0x41}));
}

TEST_F(OpenPtyTest, ReadWaitsTheReadTimeoutAtMost) {
  ASSERT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port(), 200, 0), MEGENCOM32_OK);
  uint8_t buffer[4];
  int32_t got = -1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port(), buffer, sizeof buffer, &got), MEGENCOM32_TIMEOUT);
  EXPECT_GE(callMs(start), 150);
  EXPECT_LT(callMs(start), 3000);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port(), nullptr, 4, &got), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port(), buffer, -1, &got), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port(), buffer, 4, nullptr), MEGENCOM32_BAD_ARGUMENT);
}

TEST_F(OpenPtyTest, PrepareDiscardsUnreadInput) {
  pty_.writeMaster({'o', 'l', 'd'});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(MEGENCOM32_PreparaImpressao(port()), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port(), 100, 0), MEGENCOM32_OK);
  uint8_t buffer[4];
  int32_t got = -1;
  EXPECT_EQ(MEGENCOM32_LeroDispositivo(port(), buffer, sizeof buffer, &got), MEGENCOM32_TIMEOUT);
}

TEST_F(OpenPtyTest, WaitForOutputAndTimeoutSettings) {
  int32_t written = 0;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port(), "abc", 3, &written), MEGENCOM32_OK);
  EXPECT_EQ(MEGENCOM32_AguardaImpressao(port(), 1000), MEGENCOM32_OK);
  EXPECT_EQ(MEGENCOM32_AguardaImpressao(port(), -1), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_AguardaImpressao("not-open", 10), MEGENCOM32_NOT_OPEN);
  EXPECT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port(), -1, 10), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX("not-open", 10, 10), MEGENCOM32_NOT_OPEN);
  EXPECT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(nullptr, 10, 10), MEGENCOM32_BAD_ARGUMENT);
}

