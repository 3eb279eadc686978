// CODEBAR32_PGeBMPtoPRN and the BMP reader behind it: well-formed bitmaps in
// their several forms, and malformed or hostile files, which must give a
// status and never read out of bounds (this suite runs under ASan).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <random>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"
#include "bmp_codec.h"

using namespace barcode_test;

namespace {

// A 1-bit BMP built field by field, so each test can spoil one field.
struct BmpFields {
  int32_t width = 40;
  int32_t height = 10;  // negative: top-down
  uint32_t headerSize = 40;
  uint16_t planes = 1;
  uint16_t bitCount = 1;
  uint32_t compression = 0;
  uint32_t coloursUsed = 2;
  uint32_t palette0 = 0x000000;  // 0x00RRGGBB
  uint32_t palette1 = 0xFFFFFF;
  // Dot (x, y) from the top is black when this says so.
  std::function<bool(int, int)> black = [](int x, int y) { return (x + y) % 3 == 0; };
};

void put(Bytes &b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes makeBmp(const BmpFields &s) {
  const int64_t rows = s.height < 0 ? -static_cast<int64_t>(s.height) : s.height;
  const size_t stride = s.width > 0 ? (static_cast<size_t>(s.width) + 31) / 32 * 4 : 0;
  const uint32_t paletteEnd = 14 + s.headerSize + 8;
  const uint32_t offset = paletteEnd;  // pixels right after the palette
  Bytes b{'B', 'M'};
  put(b, static_cast<uint32_t>(offset + stride * static_cast<size_t>(rows)), 4);
  put(b, 0, 4);
  put(b, offset, 4);
  put(b, s.headerSize, 4);
  put(b, static_cast<uint32_t>(s.width), 4);
  put(b, static_cast<uint32_t>(s.height), 4);
  put(b, s.planes, 2);
  put(b, s.bitCount, 2);
  put(b, s.compression, 4);
  put(b, 0, 4);
  put(b, 2835, 4);
  put(b, 2835, 4);
  put(b, s.coloursUsed, 4);
  put(b, 0, 4);
  b.resize(14 + s.headerSize, 0);  // V4/V5 fields: zeros
  put(b, s.palette0, 4);
  put(b, s.palette1, 4);
  const bool index1IsBlack = (s.palette1 & 0xFFFFFF) < (s.palette0 & 0xFFFFFF);
  for (int64_t fileRow = 0; fileRow < rows && rows <= CODEBAR32_MAX_BITMAP_HEIGHT; ++fileRow) {
    const int y = static_cast<int>(s.height > 0 ? rows - 1 - fileRow : fileRow);
    Bytes row(stride, 0);
    for (int x = 0; x < s.width; ++x)
      if (s.black(x, y) == index1IsBlack)
        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

struct Conversion {
  int32_t status;
  std::optional<Bytes> prn;
};

Conversion convert(const TempFolder &folder, const Bytes &bmp, int32_t indent = 0) {
  const std::string in = folder.file("in.bmp");
  const std::string out = folder.file("out.prn");
  writeFile(in, bmp);
  Conversion c{CODEBAR32_PGeBMPtoPRN(in.c_str(), out.c_str(), indent), readFile(out)};
  ::unlink(out.c_str());
  return c;
}

TEST(BmpToPrn, BottomUpTopDownAndEitherPaletteOrderPrintAlike) {
  TempFolder folder;
  const Conversion reference = convert(folder, makeBmp(BmpFields{}), 8);
  ASSERT_EQ(reference.status, P32GECODEBAR_OK);

  BmpFields topDown;
  topDown.height = -10;
  BmpFields inverted;
  inverted.palette0 = 0xFFFFFF;
  inverted.palette1 = 0x000000;
  BmpFields v5;
  v5.headerSize = 124;
  BmpFields noCount;
  noCount.coloursUsed = 0;
  BmpFields tinted;  // dark blue prints black, pale yellow white
  tinted.palette0 = 0x101060;
  tinted.palette1 = 0xFFFFC0;
  for (const BmpFields &fields : {topDown, inverted, v5, noCount, tinted})
    EXPECT_EQ(convert(folder, makeBmp(fields), 8).prn, reference.prn);

  const Paper paper = printOnPaper(*reference.prn);
  ASSERT_TRUE(paper.wellFormed) << paper.problem;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_EQ(paper.image.black(8 + x, y), (x + y) % 3 == 0);
}

TEST(BmpToPrn, WhiteRowsAroundThePictureBecomeFeedAndInsideItRasterRows) {
  TempFolder folder;
  BmpFields fields;
  fields.width = 16;
  fields.height = 700;
  // Black bands at rows 300-301 and 400; white everywhere else.
  fields.black = [](int x, int y) { return (y == 300 || y == 301 || y == 400) && x == 15; };
  const Conversion c = convert(folder, makeBmp(fields), 3);
  ASSERT_EQ(c.status, P32GECODEBAR_OK);
  const Paper paper = printOnPaper(*c.prn);
  ASSERT_TRUE(paper.wellFormed) << paper.problem;
  std::vector<std::pair<int, int>> kinds;  // (kind, dots or rows)
  for (const auto &cmd : paper.commands)
    kinds.emplace_back(cmd.kind, cmd.dotRows());
  const int tail = 299 + CODEBAR32_CUTTER_CLEARANCE_DOTS;  // rows 401-699, then clearance
  // Rows 300 to 400 are one picture: the 98 white rows between its bands
  // go as raster rows too, never as a feed.
  const std::vector<std::pair<int, int>> expected{
      {PrinterCommand::kFeed, 255},   {PrinterCommand::kFeed, 45},
      {PrinterCommand::kRaster, 100}, {PrinterCommand::kRaster, 1},
      {PrinterCommand::kFeed, 255},   {PrinterCommand::kFeed, tail - 255}};
  EXPECT_EQ(kinds, expected);
  ASSERT_EQ(paper.images.size(), 1u);
  // Dot 15 shifted by the indent of 3 is dot 18: the third byte.
  EXPECT_EQ(paper.commands[2].widthBytes, 3);
  // Rows 300 and 301 are equal, and so are the white ones in pairs: one
  // data row printed twice is cheaper.
  EXPECT_TRUE(paper.commands[2].doubleHeight);
  EXPECT_EQ(paper.commands[2].rows, 50);
  EXPECT_TRUE(paper.image.black(18, 300));
}

TEST(BmpToPrn, AllWhiteBitmapIsOnlyFeed) {
  TempFolder folder;
  BmpFields fields;
  fields.black = [](int, int) { return false; };
  const Conversion c = convert(folder, makeBmp(fields));
  ASSERT_EQ(c.status, P32GECODEBAR_OK);
  const Paper paper = printOnPaper(*c.prn);
  ASSERT_EQ(paper.commands.size(), 1u);
  EXPECT_EQ(paper.commands[0].feedDots, 10 + CODEBAR32_CUTTER_CLEARANCE_DOTS);
}

TEST(BmpToPrn, WidthLimitIsThePaperBesideTheIndent) {
  TempFolder folder;
  BmpFields fields;
  fields.width = 560;
  EXPECT_EQ(convert(folder, makeBmp(fields), 16).status, P32GECODEBAR_OK);
  fields.width = 561;
  EXPECT_EQ(convert(folder, makeBmp(fields), 16).status, P32GECODEBAR_TOO_WIDE);
  EXPECT_EQ(convert(folder, makeBmp(BmpFields{}), -1).status, P32GECODEBAR_BAD_ARGUMENT);
}

// The printer takes at most 4,096 printed dot rows in one raster image.
constexpr int kMaxRasterDots = 4096;

// Bitmaps taller than one raster image: every command stays within the
// limit (a double-height row counts twice), and the paper is the bitmap.
TEST(BmpToPrn, TallBitmapIsCutIntoRasterCommandsThePrinterTakes) {
  TempFolder folder;
  BmpFields allBlack;
  allBlack.width = 576;
  allBlack.height = 5000;
  allBlack.black = [](int, int) { return true; };
  BmpFields pattern = allBlack;  // every row holds black; equal rows in threes,
  pattern.black = [](int x, int y) { return (x + y / 3) % 7 != 0; };  // one across row 4096
  for (const BmpFields &fields : {allBlack, pattern}) {
    const Conversion c = convert(folder, makeBmp(fields));
    ASSERT_EQ(c.status, P32GECODEBAR_OK);
    const Paper paper = printOnPaper(*c.prn);
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    int rasterDots = 0;
    for (const PrinterCommand &command : paper.commands) {
      if (command.kind != PrinterCommand::kRaster) continue;
      EXPECT_LE(command.dotRows(), kMaxRasterDots);
      rasterDots += command.dotRows();
    }
    EXPECT_EQ(rasterDots, 5000);
    ASSERT_EQ(paper.image.height, 5000 + CODEBAR32_CUTTER_CLEARANCE_DOTS);
    int wrong = 0;
    for (int y = 0; y < 5000; ++y)
      for (int x = 0; x < 576; ++x) wrong += paper.image.black(x, y) != fields.black(x, y);
    EXPECT_EQ(wrong, 0);
  }
}

// Anything but a regular file is refused at once: a FIFO with no writer
// must not block the call (the child is stopped by the alarm if it does).
TEST(BmpToPrn, FifoIsRefusedWithoutBlocking) {
  TempFolder folder;
  const std::string fifo = folder.file("in.bmp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = folder.file("out.prn");
  EXPECT_EXIT(
      {
        ::alarm(5);
        const int32_t status = CODEBAR32_PGeBMPtoPRN(fifo.c_str(), out.c_str(), 0);
        ::_exit(status == P32GECODEBAR_READ_FAILED ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"in.bmp"});
}

// A terminal given as the bitmap is refused, and does not become the
// controlling terminal of a caller that has none (a new session).
TEST(BmpToPrn, TerminalIsRefusedAndNeverBecomesTheControllingTerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string terminal = ::ptsname(master);
  TempFolder folder;
  const std::string out = folder.file("out.prn");
  EXPECT_EXIT(
      {
        ::alarm(5);
        if (::setsid() < 0) ::_exit(2);
        const int32_t status = CODEBAR32_PGeBMPtoPRN(terminal.c_str(), out.c_str(), 0);
        const bool controlling = ::open("/dev/tty", O_RDONLY | O_NOCTTY) >= 0;
        ::_exit(status == P32GECODEBAR_READ_FAILED && !controlling ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  ::close(master);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

struct Malformed {
  const char *name;
  std::function<Bytes()> make;
  int32_t status;
};

void PrintTo(const Malformed &m, std::ostream *os) { *os << m.name; }

Bytes withField(BmpFields fields, const std::function<void(BmpFields &)> &change) {
  change(fields);
  return makeBmp(fields);
}

class MalformedBmp : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedBmp, GivesItsStatusAndNoPrinterFile) {
  TempFolder folder;
  const Conversion c = convert(folder, GetParam().make());
  EXPECT_EQ(c.status, GetParam().status) << p32gecodebar_status_name(c.status);
  EXPECT_FALSE(c.prn.has_value());
  EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"in.bmp"});
}

const Bytes kGood = makeBmp(BmpFields{});

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedBmp,
    ::testing::Values(
        Malformed{"Empty", [] { return Bytes{}; }, P32GECODEBAR_BAD_BITMAP},
        Malformed{"OnlyTheMagic", [] { return Bytes{'B', 'M'}; }, P32GECODEBAR_BAD_BITMAP},
        Malformed{"TruncatedHeader", [] { return Bytes(kGood.begin(), kGood.begin() + 30); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"TruncatedPalette", [] { return Bytes(kGood.begin(), kGood.begin() + 58); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"LastRowCutShort", [] { return Bytes(kGood.begin(), kGood.end() - 1); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"WrongMagic", [] { Bytes b = kGood; b[0] = 'P'; b[1] = '4'; return b; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"PngSignature", [] { return Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0}; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"TwentyFourBit", [] { return withField({}, [](BmpFields &s) { s.bitCount = 24; }); },
                  P32GECODEBAR_UNSUPPORTED_BITMAP},
        Malformed{"RunLengthCompressed", [] { return withField({}, [](BmpFields &s) { s.compression = 1; }); },
                  P32GECODEBAR_UNSUPPORTED_BITMAP},
        Malformed{"CoreHeader", [] { return withField({}, [](BmpFields &s) { s.headerSize = 12; }); },
                  P32GECODEBAR_UNSUPPORTED_BITMAP},
        Malformed{"OddHeaderSize", [] { return withField({}, [](BmpFields &s) { s.headerSize = 41; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"HugeHeaderSize", [] { Bytes b = kGood; b[17] = 0x7F; return b; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"TwoPlanes", [] { return withField({}, [](BmpFields &s) { s.planes = 2; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"ZeroWidth", [] { return withField({}, [](BmpFields &s) { s.width = 0; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"NegativeWidth", [] { return withField({}, [](BmpFields &s) { s.width = -40; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"ZeroHeight", [] { return withField({}, [](BmpFields &s) { s.height = 0; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"HugeWidthSmallFile", [] { Bytes b = kGood; b[18] = 0xFF; b[19] = 0xFF; b[20] = 0xFF; b[21] = 0x7F; return b; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"HugeHeight", [] { Bytes b = kGood; b[22] = 0xA0; b[23] = 0x86; b[24] = 0x01; b[25] = 0; return b; },
                  P32GECODEBAR_BITMAP_TOO_LARGE},
        Malformed{"MostNegativeHeight", [] { Bytes b = kGood; b[22] = 0; b[23] = 0; b[24] = 0; b[25] = 0x80; return b; },
                  P32GECODEBAR_BITMAP_TOO_LARGE},
        Malformed{"OffsetPastTheEnd", [] { Bytes b = kGood; b[10] = 0xF0; b[11] = 0xFF; b[12] = 0xFF; b[13] = 0xFF; return b; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"OffsetInsideThePalette", [] { Bytes b = kGood; b[10] = 58; return b; },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"OneColourPalette", [] { return withField({}, [](BmpFields &s) { s.coloursUsed = 1; }); },
                  P32GECODEBAR_BAD_BITMAP},
        Malformed{"HugePaletteCount", [] { return withField({}, [](BmpFields &s) { s.coloursUsed = 0xFFFFFFFF; }); },
                  P32GECODEBAR_BAD_BITMAP}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(BmpToPrn, MissingOrUnreadableSourceGivesReadFailed) {
  TempFolder folder;
  const std::string out = folder.file("out.prn");
  EXPECT_EQ(CODEBAR32_PGeBMPtoPRN(folder.file("none.bmp").c_str(), out.c_str(), 0),
            P32GECODEBAR_READ_FAILED);
  EXPECT_EQ(CODEBAR32_PGeBMPtoPRN(folder.path().c_str(), out.c_str(), 0), P32GECODEBAR_READ_FAILED);
  EXPECT_TRUE(folderEntries(folder.path()).empty());
}

TEST(BmpToPrn, FileBeyondTheSizeLimitIsRefusedUnread) {
  TempFolder folder;
  Bytes big = kGood;
  big.resize(CODEBAR32_MAX_BITMAP_FILE + 1, 0);
  EXPECT_EQ(convert(folder, big).status, P32GECODEBAR_BITMAP_TOO_LARGE);
}

// Random damage to a valid file: every outcome is a status, and a success
// is a well-formed printer file. Out-of-bounds reads would stop ASan.
TEST(BmpReader, RandomlyDamagedFilesNeverReadOutOfBounds) {
  BmpFields fields;
  fields.width = 45;
  fields.height = -13;
  const Bytes good = makeBmp(fields);
  std::mt19937 random(433);
  for (int round = 0; round < 20000; ++round) {
    Bytes damaged = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) damaged[random() % 62] = static_cast<uint8_t>(random());
    if (random() % 4 == 0) damaged.resize(random() % damaged.size());
    // An exact-size heap copy, so any read past the end is caught.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[damaged.size()]);
    std::copy(damaged.begin(), damaged.end(), exact.get());
    p32gecodebar::MonoBitmap image;
    const int32_t status = p32gecodebar::decodeBmp(exact.get(), damaged.size(), image);
    if (status == P32GECODEBAR_OK) {
      ASSERT_GT(image.width(), 0);
      ASSERT_GT(image.height(), 0);
    } else {
      ASSERT_TRUE(status == P32GECODEBAR_BAD_BITMAP || status == P32GECODEBAR_UNSUPPORTED_BITMAP ||
                  status == P32GECODEBAR_BITMAP_TOO_LARGE)
          << status;
    }
  }
}

}  // namespace
