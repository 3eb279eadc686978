#include "barcode_test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zbar.h>

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace barcode_test {

Bytes bytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

std::optional<Bytes> readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> folderEntries(const std::string &folder) {
  std::vector<std::string> names;
  if (DIR *dir = ::opendir(folder.c_str())) {
    while (const dirent *entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

TempFolder::TempFolder() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/barcode-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

namespace {
void removeTree(const std::string &path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    ::chmod(path.c_str(), 0700);
    for (const std::string &name : folderEntries(path)) removeTree(path + "/" + name);
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}
}  // namespace

TempFolder::~TempFolder() { removeTree(path_); }

Paper printOnPaper(const Bytes &file) {
  constexpr int kPaperDots = 576;
  Paper paper;
  std::vector<std::vector<uint8_t>> rows;  // one grey row per dot row
  auto whiteRow = [&] { return std::vector<uint8_t>(kPaperDots, 255); };
  size_t pos = 0;
  while (pos < file.size()) {
    if (file.size() - pos >= 3 && file[pos] == 0x1B && file[pos + 1] == 0x4A) {
      PrinterCommand feed{PrinterCommand::kFeed};
      feed.feedDots = file[pos + 2];
      paper.commands.push_back(feed);
      for (int i = 0; i < feed.feedDots; ++i) rows.push_back(whiteRow());
      pos += 3;
    } else if (file.size() - pos >= 8 && file[pos] == 0x1D && file[pos + 1] == 0x76 &&
               file[pos + 2] == 0x30) {
      PrinterCommand raster{PrinterCommand::kRaster};
      // m: bit 0 prints every dot twice as wide, bit 1 every row twice.
      const uint8_t mode = file[pos + 3];
      if (mode > 3) {
        paper.problem = "raster mode above 3";
        return paper;
      }
      raster.doubleWidth = (mode & 1) != 0;
      raster.doubleHeight = (mode & 2) != 0;
      raster.widthBytes = file[pos + 4] | (file[pos + 5] << 8);
      raster.rows = file[pos + 6] | (file[pos + 7] << 8);
      raster.dataOffset = pos + 8;
      const int dotWidth = raster.doubleWidth ? 2 : 1;
      const int dotHeight = raster.doubleHeight ? 2 : 1;
      const size_t dataBytes =
          static_cast<size_t>(raster.widthBytes) * static_cast<size_t>(raster.rows);
      if (raster.widthBytes * 8 * dotWidth > kPaperDots || file.size() - raster.dataOffset < dataBytes) {
        paper.problem = "raster wider than the paper or cut short";
        return paper;
      }
      for (int y = 0; y < raster.rows; ++y) {
        std::vector<uint8_t> row = whiteRow();
        const size_t rowStart = raster.dataOffset + static_cast<size_t>(y * raster.widthBytes);
        for (int x = 0; x < raster.widthBytes * 8; ++x) {
          const uint8_t byte = file[rowStart + static_cast<size_t>(x / 8)];
          if (byte & (0x80 >> (x % 8)))
            for (int d = 0; d < dotWidth; ++d) row[static_cast<size_t>(x * dotWidth + d)] = 0;
        }
        for (int d = 0; d < dotHeight; ++d) rows.push_back(row);
      }
      const bool followsRaster = !paper.commands.empty() && paper.commands.back().kind == PrinterCommand::kRaster;
      if (!followsRaster) paper.images.push_back(PrintedImage{static_cast<int>(rows.size()) - raster.dotRows()});
      PrintedImage &image = paper.images.back();
      image.dotRows += raster.dotRows();
      image.widthBytes = std::max(image.widthBytes, raster.widthBytes);
      ++image.commands;
      image.dataRows += raster.rows;
      paper.commands.push_back(raster);
      pos = raster.dataOffset + dataBytes;
    } else {
      paper.problem = "unknown byte at offset " + std::to_string(pos);
      return paper;
    }
  }
  paper.wellFormed = true;
  paper.image.width = kPaperDots;
  paper.image.height = static_cast<int>(rows.size());
  for (const auto &row : rows) paper.image.pixels.insert(paper.image.pixels.end(), row.begin(), row.end());
  return paper;
}

GreyImage scaleUp(const GreyImage &image, int factor) {
  GreyImage big{image.width * factor, image.height * factor, {}};
  big.pixels.resize(big.index(0, big.height));
  for (int y = 0; y < big.height; ++y)
    for (int x = 0; x < big.width; ++x)
      big.pixels[big.index(x, y)] = image.pixels[image.index(x / factor, y / factor)];
  return big;
}

std::vector<Bytes> decodeWithZbar(const GreyImage &image) {
  using namespace zbar;  // zbar.h wraps its C API in this namespace for C++
  zbar_image_scanner_t *scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  // Binary mode: the payload's bytes as they are, no text conversion.
  zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
  zbar_image_t *zimage = zbar_image_create();
  zbar_image_set_format(zimage, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(zimage, static_cast<unsigned>(image.width), static_cast<unsigned>(image.height));
  zbar_image_set_data(zimage, image.pixels.data(), image.pixels.size(), nullptr);
  std::vector<Bytes> found;
  if (zbar_scan_image(scanner, zimage) > 0) {
    for (const zbar_symbol_t *symbol = zbar_image_first_symbol(zimage); symbol != nullptr;
         symbol = zbar_symbol_next(symbol)) {
      const auto *data = reinterpret_cast<const uint8_t *>(zbar_symbol_get_data(symbol));
      found.emplace_back(data, data + zbar_symbol_get_data_length(symbol));
    }
  }
  zbar_image_destroy(zimage);
  zbar_image_scanner_destroy(scanner);
  return found;
}

std::optional<Bytes> decodeWithZxing(const GreyImage &image) {
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  const ZXing::ImageView view(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum);
  const ZXing::Result result = ZXing::ReadBarcode(view, hints);
  if (!result.isValid()) return std::nullopt;
  return Bytes(result.bytes().begin(), result.bytes().end());
}

std::optional<Bytes> decodeFileWithZbarimg(const std::string &path) {
  const std::string command =
      "zbarimg -q --raw -Sdisable -Sqrcode.enable -Sbinary '" + path + "' 2>/dev/null";
  FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  Bytes output;
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.insert(output.end(), chunk, chunk + got);
  const int status = ::pclose(pipe);
  if (status != 0) return std::nullopt;
  return output;
}

}  // namespace barcode_test
