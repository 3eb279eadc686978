// Port names on POSIX: mapped names, paths, COMn and LPTn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "port_names.h"

namespace {

using it433td::resolvePortIn;

TEST(PortNames, ComAndLptNumbersCountFromOneIgnoringCase) {
  EXPECT_EQ(resolvePortIn("COM1", nullptr), "/dev/ttyS0");
  EXPECT_EQ(resolvePortIn("com10", nullptr), "/dev/ttyS9");
  EXPECT_EQ(resolvePortIn("LPT2", nullptr), "/dev/lp1");
}

TEST(PortNames, NamesWithASlashArePaths) {
  EXPECT_EQ(resolvePortIn("/dev/usb/lp0", nullptr), "/dev/usb/lp0");
  EXPECT_EQ(resolvePortIn("saida/recibo.prn", nullptr), "saida/recibo.prn");
}

TEST(PortNames, AnythingElseDoesNotResolve) {
  for (const char *name : {"", "COM", "COM0", "COM1x", "USB", "LPT", "COM-1", "PRN"})
    EXPECT_FALSE(resolvePortIn(name, nullptr).has_value()) << name;
}

TEST(PortNames, AMappingFolderEntryWinsIgnoringCase) {
  char pattern[] = "/tmp/ports-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  ASSERT_EQ(symlink("/dev/null", (folder + "/COM1").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", (folder + "/Caixa").c_str()), 0);
  EXPECT_EQ(resolvePortIn("com1", folder.c_str()), folder + "/COM1");
  EXPECT_EQ(resolvePortIn("CAIXA", folder.c_str()), folder + "/Caixa");
  EXPECT_EQ(resolvePortIn("COM2", folder.c_str()), "/dev/ttyS1");
  setenv("IT433TD_PORTS", folder.c_str(), 1);
  EXPECT_EQ(it433td::resolvePort("caixa"), folder + "/Caixa");
  unsetenv("IT433TD_PORTS");
  unlink((folder + "/COM1").c_str());
  unlink((folder + "/Caixa").c_str());
  rmdir(folder.c_str());
}

// Mended: IT433TD_PORTS naming a folder that is not there (a typo) shuts
// the fixed names, so the copy never reaches /dev/ttyS0; the default folder
// may be missing, and an empty variable means no folder.
TEST(PortNames, ANamedFolderThatCannotBeReadLeavesOnlyPaths) {
  setenv("IT433TD_PORTS", "/nonexistent/it433td-ports", 1);
  EXPECT_FALSE(it433td::resolvePort("COM1").has_value());
  EXPECT_FALSE(it433td::resolvePort("lpt1").has_value());
  EXPECT_EQ(it433td::resolvePort("/dev/usb/lp0"), "/dev/usb/lp0");
  setenv("IT433TD_PORTS", "", 1);
  EXPECT_EQ(it433td::resolvePort("COM1"), "/dev/ttyS0");
  unsetenv("IT433TD_PORTS");
  EXPECT_EQ(resolvePortIn("COM1", "/nonexistent/it433td-ports"), "/dev/ttyS0");
}

}  // namespace
