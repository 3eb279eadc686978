// png_file.cpp - a grey PNG compressed by libdeflate.
//
// Compressing the picture was the largest cost of a receipt: zlib (through
// libpng) spent about 3 ns on each of a demo receipt's 500 000 dots, at any
// level or strategy. libdeflate compresses the whole picture in one call at
// a few times that speed and packs it as small. A PNG around it is four
// fixed records (signature, IHDR, IDAT, IEND), each with its CRC-32; the
// rows carry the "up" filter, so blank paper and the inside of a bar, like
// the row above them, become zeros.
#include "png_file.h"

#include <libdeflate.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace it433td::printer {

namespace {

// Measured on receipts: libdeflate's level 2 is its fastest, and packs a
// receipt a little smaller than zlib's level 3 did.
constexpr int kCompressionLevel = 2;
constexpr std::array<unsigned char, 8> kPngSignature = {0x89, 'P',  'N',  'G',
                                                        '\r', '\n', 0x1A, '\n'};
constexpr unsigned char kFilterUp = 2;

struct CompressorFree {
  void operator()(libdeflate_compressor *compressor) const {
    libdeflate_free_compressor(compressor);
  }
};

void appendBigEndian(std::vector<unsigned char> &out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<unsigned char>(value >> shift));
}

// A chunk: its length, type, data and the CRC-32 of type and data.
void appendChunk(std::vector<unsigned char> &out, const char (&type)[5], const unsigned char *data,
                 std::size_t size) {
  appendBigEndian(out, static_cast<std::uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  appendBigEndian(out, libdeflate_crc32(0, out.data() + typeAt, size + 4));
}

// A buffer of a thread's, kept from picture to picture and never cleared:
// every byte is written before it is read.
struct Scratch {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
  unsigned char *atLeast(std::size_t wanted) {
    if (wanted > size) {
      bytes.reset(new unsigned char[wanted]);
      size = wanted;
    }
    return bytes.get();
  }
};

// Each row behind its filter byte, as the difference from the row above.
void filterRows(const unsigned char *rows, int width, int height, int stride, unsigned char *out) {
  const auto rowBytes = static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y) {
    const unsigned char *row = rows + static_cast<std::ptrdiff_t>(y) * stride;
    const unsigned char *above = y ? row - stride : nullptr;
    *out++ = kFilterUp;
    for (std::size_t x = 0; x < rowBytes; ++x)
      *out++ = static_cast<unsigned char>(row[x] - (above ? above[x] : 0));
  }
}

bool encodePng(const unsigned char *rows, int width, int height, int stride,
               std::vector<unsigned char> &png) {
  // One compressor a thread: setting one up costs more than a small receipt.
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
      libdeflate_alloc_compressor(kCompressionLevel));
  thread_local Scratch filtered, idat;
  if (!compressor) return false;
  const std::size_t size = (static_cast<std::size_t>(width) + 1) * static_cast<std::size_t>(height);
  filterRows(rows, width, height, stride, filtered.atLeast(size));
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), size);
  const std::size_t packed = libdeflate_zlib_compress(compressor.get(), filtered.bytes.get(), size,
                                                      idat.atLeast(bound), bound);
  if (!packed) return false;
  std::vector<unsigned char> header;
  appendBigEndian(header, static_cast<std::uint32_t>(width));
  appendBigEndian(header, static_cast<std::uint32_t>(height));
  // 8-bit grey, deflate, adaptive filtering, not interlaced.
  header.insert(header.end(), {8, 0, 0, 0, 0});
  png.assign(kPngSignature.begin(), kPngSignature.end());
  appendChunk(png, "IHDR", header.data(), header.size());
  appendChunk(png, "IDAT", idat.bytes.get(), packed);
  appendChunk(png, "IEND", nullptr, 0);
  return true;
}

}  // namespace

bool writeGreyPng(const std::filesystem::path &path, const unsigned char *rows, int width,
                  int height, int stride, std::string *error) {
  std::vector<unsigned char> png;
  if (width <= 0 || height <= 0 || !encodePng(rows, width, height, stride, png)) {
    if (error) *error = path.string() + ": the picture could not be compressed";
    return false;
  }
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  // A full disk shows here at the latest: the last bytes go out on close.
  bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  int failed = errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    failed = errno;
  }
  if (!written && error) *error = path.string() + ": " + std::strerror(failed);
  return written;
}

}  // namespace it433td::printer
