// QR codes through the printer file: the order of steps, the files, the
// copy and the reopening.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "copy_command.h"
#include "driver_test_support.h"
#include "operations.h"

namespace {

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The folder of the call's own, in `qrFolder`, that `path` was rendered in;
// "" when it is not one. It is gone once the call is over.
std::string renderFolder(const std::string &path, const std::string &qrFolder) {
  const std::string folder = path.substr(0, path.rfind('/'));
  const bool own =
      folder.rfind(qrFolder + "/.qrCode-", 0) == 0 && access(folder.c_str(), F_OK) != 0;
  return own ? folder : "";
}

class QrCode : public BoundDriver {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qr-host-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    platform_.hostExecutable = folder_ + "/host";
    ASSERT_EQ(mkdir((folder_ + "/Dados").c_str(), 0755), 0);
    BoundDriver::SetUp();
  }
  void TearDown() override {
    std::remove(printerFile().c_str());
    std::remove((folder_ + "/Dados/qrCode.lock").c_str());
    std::remove((folder_ + "/Dados/qrCode.bmp").c_str());
    rmdir((folder_ + "/Dados").c_str());
    rmdir(folder_.c_str());
  }
  std::string printerFile() const { return folder_ + "/Dados/qrCode.prn"; }
  std::string folder_;
};

TEST_F(QrCode, ClosesRendersCopiesWaitsAndReopensInThatOrder) {
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM3", "pix", 3), 0);
  EXPECT_EQ(entrySequence(),
            (std::vector<std::string>{"lock", "MEGENCOM32_FecharDispositivo",
                                      "CODEBAR32_PGeCodeBarInicia", "CODEBAR32_PGeCodeBarQRCODE",
                                      "CODEBAR32_PGeCodeBarFinaliza", "copy", "unlock", "sleep",
                                      "copy_end", "MEGENCOM32_AbrirDispositivo"}));
  const auto render = fakeVendor()->callsOf("CODEBAR32_PGeCodeBarQRCODE")[0];
  EXPECT_EQ(render.numbers, (std::vector<int64_t>{'M', 16, 3, 3}));
  EXPECT_EQ(render.bytes, std::string("pix\0", 4));  // a 0x00 follows the data
  const std::string rendered = renderFolder(render.printerPath, folder_ + "/Dados");
  EXPECT_NE(rendered, "") << render.printerPath;
  EXPECT_EQ(render.printerPath, rendered + "/qrCode.prn");
  EXPECT_EQ(render.bitmapPath, rendered + "/qrCode.bmp");
  const auto copy = fakeVendor()->callsOf("copy")[0];
  EXPECT_EQ(copy.printerPath, render.printerPath);
  EXPECT_EQ(copy.port, "COM3");
  EXPECT_EQ(fakeVendor()->callsOf("sleep")[0].numbers[0], 3000);
  // Then both files join the QR folder.
  EXPECT_EQ(readFile(printerFile()), fakePrinterFile("pix"));
  EXPECT_EQ(readFile(folder_ + "/Dados/qrCode.bmp"), "BM");
}

TEST_F(QrCode, ThePortIsReopenedByTheUsualRuleAndThatStatusIsTheResult) {
  fakeVendor()->openStatus = 77;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM3", "x", 1), 77);
  EXPECT_EQ(fakeVendor()->callsOf("MEGENCOM32_AbrirDispositivo")[0].numbers,
            (std::vector<int64_t>{57600, 'S', 8, 1, 1}));
  fakeVendor()->calls.clear();
  EXPECT_EQ(ImprimeQRCode_IT433TD("USB", "x", 1), 77);
  EXPECT_EQ(fakeVendor()->callsOf("MEGENCOM32_AbrirDispositivo")[0].numbers,
            (std::vector<int64_t>{0, 0, 0, 0, 0}));
}

TEST_F(QrCode, EmptyDataRunsEveryStepWithANullDataPointer) {
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", nullptr, 0), 0);
  const auto render = fakeVendor()->callsOf("CODEBAR32_PGeCodeBarQRCODE")[0];
  EXPECT_TRUE(render.nullData);
  EXPECT_EQ(render.numbers[3], 0);
  EXPECT_EQ(fakeVendor()->callsOf("copy").size(), 1u);
}

// Mended: a file left by an earlier call must never be printed again.
TEST_F(QrCode, WhenNothingIsRenderedNoCopyRunsAndTheResultSaysSo) {
  ASSERT_EQ(ImprimeQRCode_IT433TD("COM1", "first", 5), 0);
  fakeVendor()->calls.clear();
  fakeVendor()->render = false;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "second", 6), IT433TD_NOT_RENDERED);
  EXPECT_EQ(entrySequence(),
            (std::vector<std::string>{"lock", "MEGENCOM32_FecharDispositivo",
                                      "CODEBAR32_PGeCodeBarInicia", "CODEBAR32_PGeCodeBarQRCODE",
                                      "CODEBAR32_PGeCodeBarFinaliza", "unlock",
                                      "MEGENCOM32_AbrirDispositivo"}));
  EXPECT_EQ(access(printerFile().c_str(), F_OK), -1);
}

TEST_F(QrCode, AnEarlierFileThatCannotBeRemovedIsNeitherRenderedOverNorCopied) {
  ASSERT_EQ(ImprimeQRCode_IT433TD("COM1", "first", 5), 0);
  fakeVendor()->calls.clear();
  platform_.removalFails = true;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "second", 6), IT433TD_NOT_RENDERED);
  EXPECT_EQ(entrySequence(), (std::vector<std::string>{"lock", "MEGENCOM32_FecharDispositivo",
                                                       "unlock", "MEGENCOM32_AbrirDispositivo"}));
}

// Mended: processes sharing the folder take turns. The lock is taken before
// the port is closed, waited for at most 10 s, and given back once the copy
// has said it holds the printer file; the copy's 3000 ms count from its
// start, the wait for that report included.
TEST_F(QrCode, TheFolderLockIsHeldUntilTheCopyHasTheFileOpen) {
  platform_.copyReportMs = 700;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 0);
  EXPECT_EQ(fakeVendor()->callsOf("lock")[0].numbers, (std::vector<int64_t>{10000}));
  EXPECT_EQ(fakeVendor()->callsOf("copy")[0].numbers, (std::vector<int64_t>{3000}));
  const std::vector<std::string> sequence = entrySequence();
  const std::vector<std::string> tail(sequence.end() - 5, sequence.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"copy", "unlock", "sleep", "copy_end",
                                            "MEGENCOM32_AbrirDispositivo"}));
  // (One more: the clock's whole milliseconds may run ahead by one.)
  EXPECT_EQ(fakeVendor()->callsOf("sleep")[0].numbers[0], 2301);

  // A copy that cannot tell (cmd.exe) keeps the folder for its whole window.
  fakeVendor()->calls.clear();
  platform_.copyAnswer = it433td::RawCopy::Started;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 0);
  const std::vector<std::string> windows = entrySequence();
  EXPECT_EQ(std::vector<std::string>(windows.end() - 5, windows.end()),
            (std::vector<std::string>{"copy", "sleep", "copy_end", "unlock",
                                      "MEGENCOM32_AbrirDispositivo"}));
}

TEST_F(QrCode, ALockHeldElsewhereForTheWholeWaitLeavesThePortAlone) {
  platform_.lockAnswer = it433td::FileLock::Busy;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), IT433TD_QR_BUSY);
  EXPECT_EQ(entrySequence(), (std::vector<std::string>{"lock"}));
  EXPECT_EQ(access(printerFile().c_str(), F_OK), -1);

  // A lock that cannot be had at all protects nothing: nothing is rendered.
  fakeVendor()->calls.clear();
  platform_.lockAnswer = it433td::FileLock::Unavailable;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), IT433TD_NOT_RENDERED);
  EXPECT_EQ(entrySequence(), (std::vector<std::string>{"lock", "MEGENCOM32_FecharDispositivo",
                                                       "MEGENCOM32_AbrirDispositivo"}));
}

// Mended: a copy that could not start, or could not open the printer file
// or the port, is no success; the port comes back at once, without the
// 3000 ms, and a failed reopening outranks the copy's failure.
TEST_F(QrCode, ACopyThatFailsIsReportedAndOnlyOneThatStartedKeepsItsWindow) {
  platform_.copyAnswer = it433td::RawCopy::Failed;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), IT433TD_COPY_FAILED);
  const std::vector<std::string> sequence = entrySequence();
  EXPECT_EQ(std::vector<std::string>(sequence.end() - 3, sequence.end()),
            (std::vector<std::string>{"copy", "unlock", "MEGENCOM32_AbrirDispositivo"}));
  fakeVendor()->openStatus = 5;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 5);
  EXPECT_TRUE(fakeVendor()->callsOf("sleep").empty());

  // A copy whose writing failed within its window keeps the window and is
  // no success either; one still writing then overlaps the reopening.
  fakeVendor()->openStatus = 0;
  platform_.copyAnswer = it433td::RawCopy::Reported;
  platform_.copyEnd = it433td::CopyEnd::Failed;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), IT433TD_COPY_FAILED);
  EXPECT_EQ(fakeVendor()->callsOf("sleep")[0].numbers[0], 3000);
  platform_.copyEnd = it433td::CopyEnd::StillRunning;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 0);
}

TEST_F(QrCode, AFailedReopeningOutranksNotRendered) {
  fakeVendor()->render = false;
  fakeVendor()->openStatus = 5;
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 5);
}

TEST_F(QrCode, AMissingDadosFolderIsNotRendered) {
  rmdir((folder_ + "/Dados").c_str());
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), IT433TD_NOT_RENDERED);
  EXPECT_TRUE(fakeVendor()->callsOf("copy").empty());
}

// IT433TD_DADOS_DIR names the folder, with or without a trailing separator;
// it is read at each call, and empty it is as good as unset.
TEST_F(QrCode, TheDataFolderVariableIsHonouredAtEachCall) {
  const std::string other = folder_ + "/other";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  for (const std::string &value : {other, other + "/"}) {
    platform_.environment["IT433TD_DADOS_DIR"] = value;
    fakeVendor()->calls.clear();
    EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 0);
    EXPECT_NE(renderFolder(fakeVendor()->callsOf("copy")[0].printerPath, other), "");
    EXPECT_EQ(readFile(other + "/qrCode.prn"), fakePrinterFile("x"));
  }
  EXPECT_EQ(access(printerFile().c_str(), F_OK), -1);
  for (const char *value : std::initializer_list<const char *>{"", nullptr}) {
    if (value) platform_.environment["IT433TD_DADOS_DIR"] = value;
    else platform_.environment.clear();
    fakeVendor()->calls.clear();
    EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "x", 1), 0);
    EXPECT_NE(renderFolder(fakeVendor()->callsOf("copy")[0].printerPath, folder_ + "/Dados"), "");
  }
  std::remove((other + "/qrCode.prn").c_str());
  std::remove((other + "/qrCode.bmp").c_str());
  std::remove((other + "/qrCode.lock").c_str());
  EXPECT_EQ(rmdir(other.c_str()), 0);
}

// Mended: on Windows the port name goes into cmd.exe's command line.
TEST_F(QrCode, AnUnsafePortNameIsRefusedBeforeAnythingHappens) {
  platform_.windowsPortRule = true;
  for (const char *port : {"COM1&calc", "COM1 x", "\"COM1", "COM1|more", "LPT1>f", "C%PATH%"}) {
    EXPECT_EQ(ImprimeQRCode_IT433TD(port, "x", 1), IT433TD_BAD_ARGUMENT) << port;
  }
  EXPECT_TRUE(fakeVendor()->snapshot().empty());
  EXPECT_EQ(ImprimeQRCode_IT433TD("\\\\.\\COM10", "x", 1), 0);
}

TEST(CopyCommand, HasNoBlankBetweenTheClosingQuoteAndB) {
  EXPECT_EQ(it433td::copyCommandParameters("C:\\App\\Dados\\qrCode.prn", "COM1"),
            "/C COPY \"C:\\App\\Dados\\qrCode.prn\"/B COM1");
}

TEST(CopyCommand, SafePortNamesAreLettersDigitsAndAFewPathMarks) {
  for (const char *port : {"COM1", "LPT2", "\\\\.\\COM10", "\\\\server\\share$", "C:\\x_y-z.prn", ""})
    EXPECT_TRUE(it433td::isSafeCopyPortName(port)) << port;
  for (const char *port : {"COM1 ", "a&b", "a;b", "a^b", "a(b)", "a'b", "a/b", "a\xC3\xA9"})
    EXPECT_FALSE(it433td::isSafeCopyPortName(port)) << port;
}

TEST(DadosFolder, SitsBesideTheHostExecutable) {
  using it433td::driver::dadosFolder;
  EXPECT_EQ(dadosFolder("C:\\App\\host.exe", '\\'), "C:\\App\\Dados\\");
  EXPECT_EQ(dadosFolder("C:\\host.exe", '\\'), "C:\\\\Dados\\");  // a root keeps its separator
  EXPECT_EQ(dadosFolder("/opt/pdv/caixa", '/'), "/opt/pdv/Dados/");
  EXPECT_EQ(dadosFolder("/caixa", '/'), "//Dados/");
}

}  // namespace
