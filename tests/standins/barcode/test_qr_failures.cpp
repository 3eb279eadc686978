// Refused renderings: a distinct status, and no file created, no temporary
// file left behind, an older file at the target left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"

using namespace barcode_test;

namespace {

std::vector<std::string> sortedEntries(const TempFolder &folder) {
  std::vector<std::string> names = folderEntries(folder.path());
  std::sort(names.begin(), names.end());
  return names;
}

int32_t render(const TempFolder &folder, int32_t ecc, int32_t indent, int32_t moduleSize,
               const char *data, int32_t length) {
  return CODEBAR32_PGeCodeBarQRCODE(ecc, indent, moduleSize, data, length,
                                    folder.file("qrCode.bmp").c_str(),
                                    folder.file("qrCode.prn").c_str());
}

TEST(QrFailures, PayloadTooLongForTheEccLevelLeavesNoFile) {
  TempFolder folder;
  const std::string payload(2332, 'z');  // version 40 at ECC M holds 2331 bytes
  EXPECT_EQ(render(folder, 'M', 16, 3, payload.data(), 2332), P32GECODEBAR_DATA_TOO_LONG);
  EXPECT_EQ(render(folder, 'L', 16, 3, payload.data(), 2331), P32GECODEBAR_OK);
  ::unlink(folder.file("qrCode.bmp").c_str());
  ::unlink(folder.file("qrCode.prn").c_str());
  EXPECT_EQ(render(folder, 'H', 16, 3, payload.data(), 1300), P32GECODEBAR_DATA_TOO_LONG);
  // Beyond any QR code, however long the caller claims the data to be.
  EXPECT_EQ(render(folder, 'L', 16, 3, payload.data(), INT32_MAX), P32GECODEBAR_DATA_TOO_LONG);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(QrFailures, LargestVersionStillFitsThePaperAtTheDriversValues) {
  // Version 40 is 177 modules + quiet zone = 555 dots <= 576 - 16: the width
  // limit does not bite at 3 dots per module; at 4 it does.
  TempFolder folder;
  const std::string payload(2331, 'q');
  EXPECT_EQ(render(folder, 'M', 16, 3, payload.data(), 2331), P32GECODEBAR_OK);
  ::unlink(folder.file("qrCode.bmp").c_str());
  ::unlink(folder.file("qrCode.prn").c_str());
  EXPECT_EQ(render(folder, 'M', 16, 4, payload.data(), 2331), P32GECODEBAR_TOO_WIDE);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(QrFailures, SymbolWiderThanThePaperBesideTheIndentIsRefused) {
  TempFolder folder;
  // Version 1 with quiet zone is 29 modules: 29 * 19 = 551 dots.
  EXPECT_EQ(render(folder, 'M', 25, 19, "x", 1), P32GECODEBAR_OK);
  ::unlink(folder.file("qrCode.bmp").c_str());
  ::unlink(folder.file("qrCode.prn").c_str());
  EXPECT_EQ(render(folder, 'M', 26, 19, "x", 1), P32GECODEBAR_TOO_WIDE);
  EXPECT_EQ(render(folder, 'M', 576, 1, "x", 1), P32GECODEBAR_TOO_WIDE);
  EXPECT_EQ(render(folder, 'M', INT32_MAX, 1, "x", 1), P32GECODEBAR_TOO_WIDE);
  EXPECT_EQ(render(folder, 'M', 0, INT32_MAX, "x", 1), P32GECODEBAR_TOO_WIDE);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(QrFailures, BadArgumentsAreRefusedBeforeAnyFile) {
  TempFolder folder;
  for (const int32_t ecc : {0, int32_t{'X'}, int32_t{'m'}, int32_t{'l'}, 77 + 256, -77})
    EXPECT_EQ(render(folder, ecc, 16, 3, "x", 1), P32GECODEBAR_BAD_ARGUMENT) << ecc;
  EXPECT_EQ(render(folder, 'M', 16, 0, "x", 1), P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(render(folder, 'M', 16, -3, "x", 1), P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(render(folder, 'M', -1, 3, "x", 1), P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(render(folder, 'M', 16, 3, "x", -1), P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(render(folder, 'M', 16, 3, nullptr, 5), P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(QrFailures, NullOrEmptyPathsAreRefused) {
  TempFolder folder;
  const std::string prn = folder.file("qrCode.prn");
  const std::string bmp = folder.file("qrCode.bmp");
  EXPECT_EQ(CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, "x", 1, nullptr, prn.c_str()), P32GECODEBAR_NULL_PATH);
  EXPECT_EQ(CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, "x", 1, bmp.c_str(), nullptr), P32GECODEBAR_NULL_PATH);
  EXPECT_EQ(CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, "x", 1, "", prn.c_str()), P32GECODEBAR_NULL_PATH);
  EXPECT_EQ(CODEBAR32_PGeBMPtoPRN(nullptr, prn.c_str(), 0), P32GECODEBAR_NULL_PATH);
  EXPECT_EQ(CODEBAR32_PGeBMPtoPRN(bmp.c_str(), "", 0), P32GECODEBAR_NULL_PATH);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

// The bitmap's folder is writable, the printer file's is missing: the
// bitmap, already written under its temporary name, must go again.
TEST(QrFailures, UnwritablePrinterFileLeavesNeitherFileNorTemporary) {
  TempFolder folder;
  const std::string bmp = folder.file("qrCode.bmp");
  const std::string prn = folder.file("missing/qrCode.prn");
  EXPECT_EQ(CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, "x", 1, bmp.c_str(), prn.c_str()),
            P32GECODEBAR_WRITE_FAILED);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

// Both files are written; putting the printer file in place fails (a folder
// stands at its name). The bitmap renamed a moment before is removed again.
TEST(QrFailures, FailedRenameRemovesTheFilesOfThisCall) {
  TempFolder folder;
  ASSERT_EQ(::mkdir(folder.file("qrCode.prn").c_str(), 0700), 0);
  EXPECT_EQ(render(folder, 'M', 16, 3, "x", 1), P32GECODEBAR_WRITE_FAILED);
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"qrCode.prn"});
  EXPECT_TRUE(folderEntries(folder.file("qrCode.prn")).empty());
}

// The same failure with a bitmap from an earlier call at its target: the
// bitmap renamed over it must give way to the earlier one again, unchanged
// and still the same file (inode), with no kept name left behind.
TEST(QrFailures, FailedRenameRestoresTheEarlierBitmap) {
  TempFolder folder;
  const std::string bmp = folder.file("qrCode.bmp");
  writeFile(bmp, bytesOf("earlier bitmap"));
  struct stat before {};
  ASSERT_EQ(::stat(bmp.c_str(), &before), 0);
  ASSERT_EQ(::mkdir(folder.file("qrCode.prn").c_str(), 0700), 0);
  EXPECT_EQ(render(folder, 'M', 16, 3, "x", 1), P32GECODEBAR_WRITE_FAILED);
  EXPECT_EQ(readFile(bmp), bytesOf("earlier bitmap"));
  struct stat after {};
  ASSERT_EQ(::stat(bmp.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 1u);
  EXPECT_EQ(sortedEntries(folder), (std::vector<std::string>{"qrCode.bmp", "qrCode.prn"}));
}

// A success keeps nothing of the earlier bitmap beside the new one.
TEST(QrFailures, SuccessOverAnEarlierBitmapLeavesNoKeptName) {
  TempFolder folder;
  writeFile(folder.file("qrCode.bmp"), bytesOf("earlier bitmap"));
  const Rendering r = renderQr(folder, bytesOf("new"), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  EXPECT_NE(r.bmp, bytesOf("earlier bitmap"));
  EXPECT_EQ(sortedEntries(folder), (std::vector<std::string>{"qrCode.bmp", "qrCode.prn"}));
}

TEST(QrFailures, ReadOnlyFolderGivesWriteFailedAndNoTemporary) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempFolder folder;
  ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
  EXPECT_EQ(render(folder, 'M', 16, 3, "x", 1), P32GECODEBAR_WRITE_FAILED);
  ::chmod(folder.path().c_str(), 0700);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(QrFailures, OlderFilesStayAsTheyWereOnFailure) {
  TempFolder folder;
  writeFile(folder.file("qrCode.prn"), bytesOf("old printer file"));
  writeFile(folder.file("qrCode.bmp"), bytesOf("old bitmap"));
  const std::string payload(3000, 'z');
  EXPECT_EQ(render(folder, 'M', 16, 3, payload.data(), 3000), P32GECODEBAR_DATA_TOO_LONG);
  EXPECT_EQ(readFile(folder.file("qrCode.prn")), bytesOf("old printer file"));
  EXPECT_EQ(readFile(folder.file("qrCode.bmp")), bytesOf("old bitmap"));
  EXPECT_EQ(folderEntries(folder.path()).size(), 2u);
}

TEST(QrFailures, SuccessReplacesOlderFilesAndLeavesNoTemporary) {
  TempFolder folder;
  writeFile(folder.file("qrCode.prn"), Bytes(100000, 0x55));
  const Rendering r = renderQr(folder, bytesOf("new"), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  EXPECT_LT(r.prn->size(), 100000u);
  EXPECT_EQ(decodeRendering(r).fromPaperZbar, bytesOf("new"));
  EXPECT_EQ(folderEntries(folder.path()).size(), 2u);
}

// The temporary file's name must not grow with the target's: a target name
// close to the file-name limit (255 bytes) is written all the same.
TEST(QrFailures, ATargetNameNearTheLengthLimitIsWrittenAndLeavesNoTemporary) {
  TempFolder folder;
  const std::string longName(240, 'q');
  const std::string bmp = folder.file(longName + ".bmp"), prn = folder.file(longName + ".prn");
  ASSERT_EQ(CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, "x", 1, bmp.c_str(), prn.c_str()),
            P32GECODEBAR_OK);
  EXPECT_TRUE(exists(bmp) && exists(prn));
  EXPECT_EQ(folderEntries(folder.path()).size(), 2u);
}

}  // namespace
