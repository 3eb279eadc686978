// Rendering (decoded back with a real barcode reader) and the pty loop end
// to end with a real pseudo-terminal.
#include "barcodes.h"
#include "printer_streams.h"
#include "pty_server.h"
#include "receipt_folder.h"
#include "renderer.h"
#include "virtual_printer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace it433td::printer;
using namespace printer_test;
namespace fs = std::filesystem;

namespace {

fs::path makeTempFolder() {
  std::string pattern = (fs::temp_directory_path() / "it433td-printer-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

struct TempFolder {
  fs::path path = makeTempFolder();
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Receipt> printAll(const std::string &stream) {
  std::vector<Receipt> receipts;
  VirtualPrinter printer([&](Receipt &&r) { receipts.push_back(std::move(r)); }, nullptr);
  printer.feed(stream);
  printer.finish();
  return receipts;
}

std::vector<DecodedCode> decodePng(const fs::path &png, int *width, int *height) {
  cairo_surface_t *surface = cairo_image_surface_create_from_png(png.c_str());
  std::vector<DecodedCode> codes;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    *width = cairo_image_surface_get_width(surface);
    *height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    std::vector<std::uint8_t> grey(dotCount(*width, *height));
    for (int y = 0; y < *height; ++y)
      for (int x = 0; x < *width; ++x)
        grey[dotIndex(x, y, *width)] =
            (reinterpret_cast<const std::uint32_t *>(data + y * stride)[x] >> 8) & 0xFF;
    codes = decodeAllInGrey(grey.data(), *width, *height, *width);
  }
  cairo_surface_destroy(surface);
  return codes;
}

bool contains(const std::vector<DecodedCode> &codes, const std::string &format,
              const std::string &bytes) {
  for (const auto &code : codes)
    if (code.format == format && code.bytes == bytes) return true;
  return false;
}

const std::string kQrPayload = "https://www.sefaz.example/nfce?p=35251112345678000190650010000001231";

std::string sampleReceipt() {
  return "\x0F" "Padaria S\xC6o Jo\xC6o - P\xC6o de a\x87\xA3" "car\n\x12" + code128("7891234567895") +
         "\n" + qrRaster(kQrPayload, 3, 16) + "\x1BJ\x30" "\x1Bw";
}

TEST(Renderer, APngOfTheReceiptDecodesBackToItsCodes) {
  TempFolder folder;
  const auto receipts = printAll(sampleReceipt());
  ASSERT_EQ(receipts.size(), 1u);
  const fs::path png = folder.path / "receipt.png";
  std::string error;
  ASSERT_TRUE(writePng(receipts[0], png, &error)) << error;
  int width = 0, height = 0;
  const auto codes = decodePng(png, &width, &height);
  EXPECT_EQ(width, kPaperWidthDots);
  EXPECT_EQ(height, receipts[0].lengthDots);
  EXPECT_TRUE(contains(codes, "CODE128", "7891234567895"));
  EXPECT_TRUE(contains(codes, "QR", kQrPayload));
}

TEST(Renderer, TextIsDrawnInItsCellsAndAccentsDiffer) {
  const GreyImage plain = renderGrey(printAll("a\n\x1Bw").at(0));
  const GreyImage accented = renderGrey(printAll("\xC6\n\x1Bw").at(0));  // ã
  ASSERT_EQ(plain.height, kLineHeightDots);
  auto inked = [](const GreyImage &image, int x0, int x1) {
    int count = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = x0; x < x1; ++x) count += image.pixels[dotIndex(x, y, image.width)] < 128;
    return count;
  };
  EXPECT_GT(inked(plain, 0, kNormalCharDots), 10);
  EXPECT_EQ(inked(plain, kNormalCharDots, kPaperWidthDots), 0);  // nothing outside the cell
  EXPECT_GT(inked(accented, 0, kNormalCharDots), inked(plain, 0, kNormalCharDots));  // the tilde
}

// --- the receipt folder ----------------------------------------------------

std::vector<std::string> namesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Two writers sharing a folder (two emulators, render beside emulate) both
// start counting at the same number: neither replaces the other's receipt.
TEST(ReceiptFolder, WritersSharingAFolderNeverReplaceEachOthersReceipts) {
  TempFolder folder;
  ReceiptFolder first(folder.path), second(folder.path);
  const Receipt one = printAll("one\n\x1Bw").at(0), two = printAll("two\n\x1Bw").at(0);
  std::string error;
  const fs::path a = first.write(one, &error);
  const fs::path b = second.write(two, &error);
  EXPECT_EQ(a.filename(), "receipt-0001.txt") << error;
  EXPECT_EQ(b.filename(), "receipt-0002.txt") << error;
  EXPECT_EQ(readFile(a), "one\n[CUT]\n");
  EXPECT_EQ(readFile(b), "two\n[CUT]\n");

  // A transcript without its picture holds its number too: the picture
  // published under it is taken back and both go under the next number.
  std::ofstream(folder.path / "receipt-0003.txt") << "stray\n";
  EXPECT_EQ(first.write(one, &error).filename(), "receipt-0004.txt") << error;
  EXPECT_EQ(readFile(folder.path / "receipt-0003.txt"), "stray\n");
  EXPECT_EQ(namesIn(folder.path),
            (std::vector<std::string>{"receipt-0001.png", "receipt-0001.txt", "receipt-0002.png",
                                      "receipt-0002.txt", "receipt-0003.txt", "receipt-0004.png",
                                      "receipt-0004.txt"}));  // no temporaries left behind

  // At the same time, from two threads: every receipt kept, each whole.
  std::vector<fs::path> written[2];
  std::thread other([&] {
    std::string otherError;
    for (int i = 0; i < 10; ++i) written[1].push_back(second.write(two, &otherError));
  });
  for (int i = 0; i < 10; ++i) written[0].push_back(first.write(one, &error));
  other.join();
  for (int w = 0; w < 2; ++w)
    for (const fs::path &path : written[w])
      EXPECT_EQ(readFile(path), w ? "two\n[CUT]\n" : "one\n[CUT]\n");
  EXPECT_EQ(namesIn(folder.path).size(), 7u + 40u);
}

TEST(ReceiptFolder, HugeNumbersInTheFolderNeitherOverflowNorCount) {
  TempFolder folder;
  std::ofstream(folder.path / "receipt-2147483647.txt") << "old\n";
  std::string error;
  EXPECT_EQ(ReceiptFolder(folder.path).write(printAll("a\n").at(0), &error).filename(),
            "receipt-2147483648.txt")
      << error;

  TempFolder other;
  std::ofstream(other.path / "receipt-0007.png") << "old";
  std::ofstream(other.path / "receipt-123456789012345678901234.txt") << "too large";
  EXPECT_EQ(ReceiptFolder(other.path).write(printAll("a\n").at(0), &error).filename(),
            "receipt-0008.txt")
      << error;
}

// --- the pty loop ----------------------------------------------------------

bool waitFor(const std::function<bool()> &done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int openPort(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) ::tcflush(fd, TCIFLUSH);
  return fd;
}

bool writeAll(int fd, const std::string &bytes) {
  return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

int readByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  unsigned char byte = 0;
  if (::poll(&p, 1, 5000) != 1 || ::read(fd, &byte, 1) != 1) return -1;
  return byte;
}

TEST(PtyServer, ServesReceiptsAndStatusAcrossReopenedPorts) {
  TempFolder folder;
  std::vector<std::string> log;
  std::mutex logMutex;
  PtyServerOptions options;
  options.outputFolder = folder.path / "out";
  options.portLink = folder.path / "COM7";
  options.log = [&](const std::string &line) {
    std::lock_guard<std::mutex> lock(logMutex);
    log.push_back(line);
  };
  PtyServer server(options);
  EXPECT_EQ(fs::read_symlink(options.portLink).string(), server.linkTarget());
  server.start();

  // The driver: open, ask the status, print, close.
  int fd = openPort(options.portLink.string());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, std::string("\x10\x04\x01", 3)));
  EXPECT_EQ(readByte(fd), 0x12);
  // Line feeds and carriage returns pass unchanged (raw pty).
  ASSERT_TRUE(writeAll(fd, "\x0F" "Caf\x82\r\n\x12" + code128("123") + "\n"));
  ::close(fd);

  // The raw copy of a QR printer file opens the port afresh, with no hang-up
  // in between; then the driver reopens, asks again and cuts.
  server.setState(PrinterState::PaperOut);
  fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, qrRaster(kQrPayload, 3, 16)));
  ::close(fd);
  fd = openPort(server.slavePath());
  ASSERT_TRUE(writeAll(fd, std::string("\x10\x04\x04", 3)));
  EXPECT_EQ(readByte(fd), 0x72);
  ASSERT_TRUE(writeAll(fd, "\x1Bw" "unfinished"));
  ASSERT_TRUE(waitFor([&] { return server.transcriptsWritten().size() == 1; }));
  const fs::path first = server.transcriptsWritten()[0];
  EXPECT_EQ(first.filename(), "receipt-0001.txt");
  const std::string transcript = readFile(first);
  EXPECT_EQ(transcript.substr(0, transcript.find("[IMAGE")),
            "Café[UNKNOWN 0x0D]\n[WARNING unknown byte, not an IT433TD command: 0D at byte 8]\n"
            "[CODE128 \"123\"]\n\n");
  EXPECT_NE(transcript.find("QR \"" + kQrPayload + "\"]\n[CUT]\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder.path / "out" / "receipt-0001.png"));

  // Stopping writes the unfinished receipt, which says why it is not cut.
  ::close(fd);
  server.stop();
  ASSERT_EQ(server.transcriptsWritten().size(), 2u);
  EXPECT_EQ(readFile(server.transcriptsWritten()[1]),
            "unfinished\n[WARNING no cut (ESC w) before the receipt ended: the printer stopped]\n");
  EXPECT_EQ(server.statusRequests(), 2u);
}

TEST(PtyServer, AnswersNobodyReadsNeverStallTheLoop) {
  TempFolder folder;
  PtyServerOptions options;
  options.outputFolder = folder.path;
  PtyServer server(options);
  server.start();
  const int fd = openPort(server.slavePath());
  std::string requests;
  for (int i = 0; i < 6000; ++i) requests += std::string("\x10\x04\x01", 3);  // > the pty's input room
  ASSERT_TRUE(writeAll(fd, requests + "still printing\n\x1Bw"));
  EXPECT_TRUE(waitFor([&] { return server.transcriptsWritten().size() == 1; }));
  EXPECT_EQ(server.statusRequests(), 6000u);
  ::close(fd);
  server.stop();
}

TEST(PtyServer, NumberingContinuesAfterReceiptsAlreadyInTheFolder) {
  TempFolder folder;
  fs::create_directories(folder.path / "out");
  std::ofstream(folder.path / "out" / "receipt-0041.txt") << "old\n";
  PtyServerOptions options;
  options.outputFolder = folder.path / "out";
  PtyServer server(options);
  server.start();
  const int fd = openPort(server.slavePath());
  ASSERT_TRUE(writeAll(fd, "new\n\x1Bw"));
  ASSERT_TRUE(waitFor([&] { return !server.transcriptsWritten().empty(); }));
  ::close(fd);
  server.stop();
  EXPECT_EQ(server.transcriptsWritten().at(0).filename(), "receipt-0042.txt");
  EXPECT_EQ(readFile(folder.path / "out" / "receipt-0041.txt"), "old\n");
}

}  // namespace

namespace {

// The ports folder may hold the real printer's entry: the virtual one never
// takes it over, whatever the case of the name (the lookup ignores case).
TEST(PtyServer, APortNameMappedToADeviceIsNeverTakenOver) {
  TempFolder folder;
  const fs::path ports = folder.path / "ports";
  fs::create_directories(ports);
  fs::create_symlink("/dev/ttyUSB0", ports / "COM1");
  PtyServerOptions options;
  options.outputFolder = folder.path / "out";
  for (const char *name : {"COM1", "com1"}) {
    options.portLink = ports / name;
    EXPECT_THROW(PtyServer server(options), PortNameTaken) << name;
  }
  std::ofstream(ports / "LPT1") << "a file\n";
  options.portLink = ports / "lpt1";
  EXPECT_THROW(PtyServer server(options), PortNameTaken);
  EXPECT_EQ(fs::read_symlink(ports / "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(namesIn(ports), (std::vector<std::string>{"COM1", "LPT1"}));
  EXPECT_FALSE(fs::exists(options.outputFolder));  // nothing made
}

// A stopped virtual printer's link (into /dev/pts, or to the descriptor of
// a process that is gone) is replaced, in any case; a running one's is
// refused; each removes its link at the end only while it is still its own.
TEST(PtyServer, OnlyAStoppedVirtualPrintersLinkIsReplaced) {
  TempFolder folder;
  const fs::path ports = folder.path / "ports";
  fs::create_directories(ports);
  fs::create_symlink("/dev/pts/999999", ports / "com1");  // left by an older emulator
  fs::create_symlink("/proc/999999999/fd/500", ports / "Com1");  // by a killed one
  PtyServerOptions options;
  options.outputFolder = folder.path / "out";
  options.portLink = ports / "COM1";
  auto first = std::make_unique<PtyServer>(options);
  EXPECT_EQ(namesIn(ports), std::vector<std::string>{"COM1"});
  EXPECT_EQ(fs::read_symlink(ports / "COM1").string(), first->linkTarget());
  // The link leads to the server's own descriptor of the slave.
  EXPECT_EQ(fs::read_symlink(first->linkTarget()).string(), first->slavePath());

  options.portLink = ports / "com1";
  try {
    PtyServer second(options);
    ADD_FAILURE() << "a running virtual printer's port was taken over";
  } catch (const PortNameTaken &error) {
    EXPECT_NE(std::string(error.what()).find("process " + std::to_string(::getpid())),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(fs::read_symlink(ports / "COM1").string(), first->linkTarget());

  fs::remove(ports / "COM1");
  fs::create_symlink("/dev/pts/999999", ports / "COM1");  // not its own any more
  first.reset();
  EXPECT_EQ(fs::read_symlink(ports / "COM1"), "/dev/pts/999999");
}

// Status requests are answered while receipts are still being drawn: the
// reading thread hands receipts over and goes on reading.
TEST(PtyServer, StatusIsAnsweredWhileTallReceiptsAreDrawn) {
  TempFolder folder;
  PtyServerOptions options;
  options.outputFolder = folder.path;
  PtyServer server(options);
  server.start();
  const int fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  std::string tall;
  for (int line = 0; line < 1300; ++line) tall += std::string(47, 'x') + "\n";
  std::thread sender([&] {
    for (int receipt = 0; receipt < 3; ++receipt) writeAll(fd, tall + "\x1Bw");
    writeAll(fd, std::string("\x10\x04\x01", 3));
  });
  EXPECT_EQ(readByte(fd), 0x12);
  EXPECT_LT(server.transcriptsWritten().size(), 3u);  // answered before the drawing ended
  sender.join();
  ::close(fd);
  server.stop();
  EXPECT_EQ(server.transcriptsWritten().size(), 3u);
}

}  // namespace
