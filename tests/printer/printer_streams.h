// printer_streams.h - byte streams for the virtual printer's tests, built the
// way the driver and the barcode library build them.
#pragma once

#include "receipt.h"
#include "stream_decoder.h"

#include <qrencode.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace printer_test {

inline std::string code128(const std::string &data) {
  std::string command("\x1B|30\x01\x00", 6);
  command += static_cast<char>(data.size() & 0xFF);
  return command + data;
}

inline std::string rasterHeader(int mode, int widthBytes, int heightDots) {
  std::string header("\x1Dv0", 3);
  header += static_cast<char>(mode);
  header += static_cast<char>(widthBytes & 0xFF);
  header += static_cast<char>(widthBytes >> 8);
  header += static_cast<char>(heightDots & 0xFF);
  header += static_cast<char>(heightDots >> 8);
  return header;
}

// A raster image command of a QR code, moduleDots per module, indentDots of
// white on the left, as a barcode library writes it into a printer file.
inline std::string qrRaster(const std::string &payload, int moduleDots, int indentDots,
                            int *widthDots = nullptr) {
  std::unique_ptr<QRcode, decltype(&QRcode_free)> qr(
      QRcode_encodeData(static_cast<int>(payload.size()),
                        reinterpret_cast<const unsigned char *>(payload.data()), 0, QR_ECLEVEL_M),
      QRcode_free);
  if (!qr) return {};
  const int quiet = 4 * moduleDots;
  const int side = qr->width * moduleDots + 2 * quiet;
  const int widthBytes = (indentDots + side + 7) / 8;
  std::string bytes = rasterHeader(0, widthBytes, side);
  std::vector<std::uint8_t> rows(it433td::printer::dotCount(widthBytes, side), 0);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const int mx = (x - quiet) / moduleDots, my = (y - quiet) / moduleDots;
      if (x < quiet || y < quiet || mx >= qr->width || my >= qr->width) continue;
      if (qr->data[my * qr->width + mx] & 1) {
        const int dot = indentDots + x;
        rows[it433td::printer::dotIndex(dot / 8, y, widthBytes)] |=
            static_cast<std::uint8_t>(0x80 >> (dot % 8));
      }
    }
  bytes.append(rows.begin(), rows.end());
  if (widthDots) *widthDots = widthBytes * 8;
  return bytes;
}

inline std::vector<std::string> decodeAll(const std::string &stream, std::size_t splitAt = 0,
                                          bool byteByByte = false) {
  std::vector<std::string> events;
  it433td::printer::StreamDecoder decoder(
      [&](const it433td::printer::PrinterEvent &event) { events.push_back(describe(event)); });
  if (byteByByte) {
    for (char c : stream) decoder.feed(std::string_view(&c, 1));
  } else {
    decoder.feed(std::string_view(stream).substr(0, splitAt));
    decoder.feed(std::string_view(stream).substr(splitAt));
  }
  decoder.finish();
  return events;
}

}  // namespace printer_test
