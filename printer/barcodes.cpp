// barcodes.cpp - zxing-cpp 1.4 behind two small functions.
#include "barcodes.h"

#include "receipt.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <exception>

namespace it433td::printer {

namespace {

std::string formatName(ZXing::BarcodeFormat format) {
  switch (format) {
    case ZXing::BarcodeFormat::QRCode: return "QR";
    case ZXing::BarcodeFormat::Code128: return "CODE128";
    default: return ZXing::ToString(format);
  }
}

DecodedCode toDecoded(const ZXing::Result &result) {
  const ZXing::ByteArray &bytes = result.bytes();
  return {formatName(result.format()), std::string(bytes.begin(), bytes.end())};
}

}  // namespace

Code128Bars encodeCode128(std::string_view data) {
  Code128Bars bars;
  // Each byte becomes the code point of the same value, so the encoder sees
  // the bytes themselves (it refuses what CODE128 cannot carry).
  std::wstring contents;
  for (const char c : data) contents.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  try {
    const ZXing::BitMatrix matrix =
        ZXing::MultiFormatWriter(ZXing::BarcodeFormat::Code128).setMargin(0).encode(contents, 0, 1);
    bars.modules.reserve(static_cast<size_t>(matrix.width()));
    for (int x = 0; x < matrix.width(); ++x) bars.modules.push_back(matrix.get(x, 0));
  } catch (const std::exception &e) {
    bars.modules.clear();
    bars.error = e.what();
    if (bars.error.empty()) bars.error = "not encodable";
  }
  return bars;
}

std::optional<DecodedCode> decodeQrInImage(const std::vector<std::uint8_t> &pixels, int width,
                                           int height) {
  constexpr int kBorder = 16;
  if (width <= 0 || height <= 0 ||
      pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
    return std::nullopt;
  const int paddedWidth = width + 2 * kBorder;
  const int paddedHeight = height + 2 * kBorder;
  std::vector<std::uint8_t> grey(dotCount(paddedWidth, paddedHeight), 0xFF);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (pixels[dotIndex(x, y, width)]) grey[dotIndex(x + kBorder, y + kBorder, paddedWidth)] = 0;
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  try {
    const ZXing::Result result = ZXing::ReadBarcode(
        ZXing::ImageView(grey.data(), paddedWidth, paddedHeight, ZXing::ImageFormat::Lum), hints);
    if (result.isValid()) return toDecoded(result);
  } catch (const std::exception &) {
    // A reader failure means no code was found; the image still prints.
  }
  return std::nullopt;
}

std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride) {
  std::vector<DecodedCode> found;
  ZXing::DecodeHints hints;
  hints.setTryHarder(true);
  try {
    for (const ZXing::Result &result : ZXing::ReadBarcodes(
             ZXing::ImageView(grey, width, height, ZXing::ImageFormat::Lum, rowStride), hints))
      if (result.isValid()) found.push_back(toDecoded(result));
  } catch (const std::exception &) {
  }
  return found;
}

}  // namespace it433td::printer
