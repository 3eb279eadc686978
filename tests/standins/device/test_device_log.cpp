// The call log: one line per call with function, port, arguments and status.
#include <unistd.h>

#include <sstream>

#include "device_fixture.h"

namespace {

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A name as the log quotes it: a backslash (a Windows path) is escaped.
std::string logged(const std::string &name) {
  std::string text;
  for (char c : name) text += c == '\\' ? std::string("\\x5C") : std::string(1, c);
  return "\"" + text + "\"";
}

}  // namespace

TEST_F(DeviceTest, LogHasOneLinePerCallWithBytesAsHex) {
  const std::string log = tempPath("calls.log");
  ASSERT_EQ(MEGENCOM32_AtivarLOG(1, portName(log).c_str()), MEGENCOM32_OK);
  ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  int32_t written = 0;
  const char *port = tty_.c_str();
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port, "\x1b\x77\x00\x0a", 4, &written),
            MEGENCOM32_OK);
  const std::vector<uint8_t> longWrite(100, 0xAB);
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port, longWrite.data(), 100, &written),
            MEGENCOM32_OK);
  EXPECT_EQ(openPort("USB"), MEGENCOM32_NO_SUCH_PORT);
  ASSERT_EQ(MEGENCOM32_AtivarLOG(0, nullptr), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(port, "z", 1, &written), MEGENCOM32_OK);

  std::vector<std::string> lines = linesOf(readFile(log));
  ASSERT_EQ(lines.size(), 6u) << readFile(log);
  EXPECT_NE(lines[0].find("MEGENCOM32_AtivarLOG"), std::string::npos);
  EXPECT_NE(lines[1].find("MEGENCOM32_AbrirDispositivo port=" + logged(tty_) +
                          " speed=57600 parity=83 dataBits=8 stopBits=1 flow=1 -> 0 OK"),
            std::string::npos);
  EXPECT_NE(lines[2].find("count=4 bytes=1B 77 00 0A written=4 -> 0 OK"), std::string::npos);
  std::string sixtyFour;
  for (int i = 0; i < 64; ++i) sixtyFour += i ? " AB" : "AB";
  EXPECT_NE(lines[3].find("count=100 bytes=" + sixtyFour + " ... (+36) written=100"),
            std::string::npos);
  EXPECT_NE(lines[4].find("port=\"USB\" speed=0 parity=0 dataBits=0 stopBits=0 flow=0 -> 1 NO_SUCH_PORT"),
            std::string::npos);
  EXPECT_NE(lines[5].find("MEGENCOM32_AtivarLOG"), std::string::npos);
  // Each line starts with the date and time: "YYYY-MM-DD HH:MM:SS.mmm ".
  for (const std::string &line : lines) EXPECT_EQ(line[4], '-') << line;
}

TEST_F(DeviceTest, LogDefaultsToTheCurrentFolderAndEscapesPortNames) {
  ASSERT_EQ(chdir(folder_.c_str()), 0);
  ASSERT_EQ(MEGENCOM32_AtivarLOG(1, ""), MEGENCOM32_OK);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo("evil\nname"), MEGENCOM32_NOT_OPEN);
  ASSERT_EQ(MEGENCOM32_AtivarLOG(0, nullptr), MEGENCOM32_OK);
  std::vector<std::string> lines = linesOf(readFile(tempPath("MEGENCOM32.log")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("port=\"evil\\x0Aname\" -> 4 NOT_OPEN"), std::string::npos);
}

TEST_F(DeviceTest, UnwritableLogFails) {
  EXPECT_EQ(MEGENCOM32_AtivarLOG(1, portName(tempPath("no/such/folder.log")).c_str()),
            MEGENCOM32_LOG_FAILED);
  EXPECT_EQ(MEGENCOM32_AtivarLOG(2, nullptr), MEGENCOM32_BAD_ARGUMENT);
}
