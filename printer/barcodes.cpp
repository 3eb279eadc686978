// barcodes.cpp - zxing-cpp 1.4 behind a few small functions.
#include "barcodes.h"

#include "receipt.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>
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
  DecodedCode code{formatName(result.format()), std::string(bytes.begin(), bytes.end())};
  const ZXing::Position &corners = result.position();
  code.left = code.right = corners[0].x;
  code.top = code.bottom = corners[0].y;
  for (const ZXing::PointI &corner : corners) {
    code.left = std::min(code.left, corner.x);
    code.right = std::max(code.right, corner.x);
    code.top = std::min(code.top, corner.y);
    code.bottom = std::max(code.bottom, corner.y);
  }
  return code;
}

std::vector<DecodedCode> readInGrey(const std::uint8_t *grey, int width, int height, int rowStride,
                                    ZXing::BarcodeFormats formats) {
  std::vector<DecodedCode> found;
  ZXing::DecodeHints hints;
  hints.setFormats(formats);
  hints.setTryHarder(true);
  try {
    for (const ZXing::Result &result : ZXing::ReadBarcodes(
             ZXing::ImageView(grey, width, height, ZXing::ImageFormat::Lum, rowStride), hints))
      if (result.isValid()) found.push_back(toDecoded(result));
  } catch (const std::exception &) {
    // A reader failure means no code was found; the picture still prints.
  }
  return found;
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

std::vector<DecodedCode> readQrAndCode128InGrey(const std::uint8_t *grey, int width, int height,
                                                int rowStride) {
  return readInGrey(grey, width, height, rowStride,
                    ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::Code128);
}

std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride) {
  return readInGrey(grey, width, height, rowStride, ZXing::BarcodeFormats{});
}

}  // namespace it433td::printer
