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
    case ZXing::BarcodeFormat::PDF417: return "PDF417";
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

// `pure`: the picture holds one symbol, drawn by us, and nothing else.
std::vector<DecodedCode> readInGrey(const std::uint8_t *grey, int width, int height, int rowStride,
                                    ZXing::BarcodeFormats formats, bool pure = false) {
  std::vector<DecodedCode> found;
  ZXing::DecodeHints hints;
  hints.setFormats(formats);
  hints.setTryHarder(!pure);
  hints.setTryRotate(!pure);
  hints.setIsPure(pure);
  try {
    for (const ZXing::Result &result : ZXing::ReadBarcodes(
             ZXing::ImageView(grey, width, height, ZXing::ImageFormat::Lum, rowStride), hints))
      if (result.isValid()) found.push_back(toDecoded(result));
  } catch (const std::exception &) {
    // A reader failure means no code was found; the picture still prints.
  }
  return found;
}

struct InkBox {
  bool found = false;
  int left = 0, top = 0, right = 0, bottom = 0;  // inclusive
};

InkBox inkBoxOf(const std::uint8_t *grey, int width, int height, int rowStride) {
  InkBox box;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t *row = grey + dotIndex(0, y, rowStride);
    int x = 0;
    while (x < width && row[x] >= 128) ++x;
    if (x == width) continue;
    int last = width - 1;
    while (row[last] >= 128) --last;
    if (!box.found) box = {true, x, y, last, y};
    box.left = std::min(box.left, x);
    box.right = std::max(box.right, last);
    box.bottom = y;
  }
  return box;
}

// The symbol's corners lie on the box's edges, to within a dot.
bool encloses(const DecodedCode &code, const InkBox &ink) {
  constexpr int kSlackDots = 1;
  return code.left <= ink.left + kSlackDots && code.top <= ink.top + kSlackDots &&
         code.right >= ink.right - kSlackDots && code.bottom >= ink.bottom - kSlackDots;
}

// Bytes as the code points of the same values: the encoders see the bytes.
std::wstring asCodePoints(std::string_view data) {
  std::wstring contents;
  for (const char c : data) contents.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return contents;
}

}  // namespace

Code128Bars encodeCode128(std::string_view data) {
  Code128Bars bars;
  // The encoder sees the bytes themselves (it refuses what CODE128 cannot carry).
  const std::wstring contents = asCodePoints(data);
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

namespace {

// ESC/POS CODE128 data: {A, {B and {C choose the code set (in C each byte
// is two digits, 0 to 99), {S shifts, {1 to {4 are function codes, {{ is
// a brace; the data must begin with a code set.
std::string code128Text(std::string_view data, std::string *error) {
  if (data.size() < 2 || data[0] != '{' || data[1] < 'A' || data[1] > 'C') {
    *error = "its data does not begin with a code set ({A, {B or {C)";
    return {};
  }
  std::string text;
  bool setC = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '{' && i + 1 < data.size()) {
      const char next = data[++i];
      if (next == '{')
        text += '{';
      else if (next >= 'A' && next <= 'C')
        setC = next == 'C';
      continue;  // a shift or a function code: nothing to read
    }
    const auto byte = static_cast<unsigned char>(data[i]);
    if (setC) {
      if (byte > 99) {
        *error = "a byte above 99 in code set C";
        return {};
      }
      text += static_cast<char>('0' + byte / 10);
      text += static_cast<char>('0' + byte % 10);
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

ZXing::BarcodeFormat linearFormat(std::string_view format) {
  using F = ZXing::BarcodeFormat;
  if (format == "UPC-A") return F::UPCA;
  if (format == "UPC-E") return F::UPCE;
  if (format == "EAN13") return F::EAN13;
  if (format == "EAN8") return F::EAN8;
  if (format == "CODE39") return F::Code39;
  if (format == "ITF") return F::ITF;
  if (format == "CODABAR") return F::Codabar;
  if (format == "CODE93") return F::Code93;
  return F::Code128;
}

}  // namespace

Bars encodeBarcode(std::string_view format, std::string_view data) {
  Bars bars;
  if (format == "CODE128") {
    bars.text = code128Text(data, &bars.error);
    if (!bars.error.empty()) return bars;
    Code128Bars encoded = encodeCode128(bars.text);
    bars.modules = std::move(encoded.modules);
    bars.error = std::move(encoded.error);
    return bars;
  }
  bars.text = std::string(data);
  if (format == "CODE39" && bars.text.size() >= 2 && bars.text.front() == '*' &&
      bars.text.back() == '*')
    bars.text = bars.text.substr(1, bars.text.size() - 2);  // its start and stop, sent along
  if (bars.text.empty()) {
    bars.error = "no data";
    return bars;
  }
  try {
    const ZXing::BitMatrix matrix = ZXing::MultiFormatWriter(linearFormat(format))
                                        .setMargin(0)
                                        .encode(asCodePoints(bars.text), 0, 1);
    for (int x = 0; x < matrix.width(); ++x) bars.modules.push_back(matrix.get(x, 0));
  } catch (const std::exception &e) {
    bars.error = *e.what() ? e.what() : "not encodable";
  }
  return bars;
}

SymbolModules encodeSymbol(std::string_view format, std::string_view data, int level) {
  SymbolModules symbol;
  const bool qr = format == "QR";
  try {
    const ZXing::BitMatrix matrix =
        ZXing::MultiFormatWriter(qr ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::PDF417)
            .setEncoding(ZXing::CharacterSet::ISO8859_1)
            .setEccLevel(qr ? 2 * level + 1 : level)
            .setMargin(0)
            .encode(asCodePoints(data), 0, 0);
    symbol.width = matrix.width();
    symbol.height = matrix.height();
    for (int y = 0; y < symbol.height; ++y)
      for (int x = 0; x < symbol.width; ++x) symbol.modules.push_back(matrix.get(x, y));
  } catch (const std::exception &e) {
    symbol.error = *e.what() ? e.what() : "not encodable";
  }
  return symbol;
}

std::string readBars(std::string_view format, const std::vector<bool> &modules) {
  constexpr int kModule = 2, kQuiet = 12, kRows = 8;
  const int width = (static_cast<int>(modules.size()) + 2 * kQuiet) * kModule;
  std::vector<std::uint8_t> grey(dotCount(width, kRows), 0xFF);
  for (int y = 0; y < kRows; ++y)
    for (std::size_t m = 0; m < modules.size(); ++m)
      if (modules[m])
        for (int d = 0; d < kModule; ++d)
          grey[dotIndex((kQuiet + static_cast<int>(m)) * kModule + d, y, width)] = 0;
  const std::vector<DecodedCode> found =
      readInGrey(grey.data(), width, kRows, width, linearFormat(format), true);
  return found.empty() ? std::string() : found.front().bytes;
}

std::vector<DecodedCode> readQrAndCode128InGrey(const std::uint8_t *grey, int width, int height,
                                                int rowStride, bool pdf417) {
  ZXing::BarcodeFormats symbols = ZXing::BarcodeFormat::QRCode;
  if (pdf417) symbols |= ZXing::BarcodeFormat::PDF417;
  // A picture that is one 2-D symbol and nothing else (a printer file's QR
  // code) is read in pure mode, at a fraction of a search's cost: when the
  // symbol found there encloses every dark dot, no other code can be on the
  // picture. Anything else is searched whole.
  if (const InkBox ink = inkBoxOf(grey, width, height, rowStride); ink.found) {
    std::vector<DecodedCode> one = readInGrey(grey, width, height, rowStride, symbols, true);
    if (one.size() == 1 && encloses(one.front(), ink)) return one;
  }
  return readInGrey(grey, width, height, rowStride, symbols | ZXing::BarcodeFormat::Code128);
}

std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride) {
  return readInGrey(grey, width, height, rowStride, ZXing::BarcodeFormats{});
}

}  // namespace it433td::printer
