// qr_payload.cpp - the module's QR parameters checked with libqrencode.
#include "host/qr_payload.h"

#include <qrencode.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace it433td::tools {

namespace {

constexpr int kModuleDots = 3;         // the module's dots per QR module
constexpr int kIndentDots = 16;        // the module's left margin
constexpr int kQuietZoneModules = 4;   // the white border the symbol needs
constexpr int kPaperDots = 576;        // 80 mm at 8 dots per mm
constexpr std::size_t kNoQrHolds = 2953;  // 8-bit bytes of the largest symbol at level L

struct QrCodeFree {
  void operator()(QRcode *code) const { QRcode_free(code); }
};

std::string tooLarge(std::size_t bytes) {
  return "QR data is " + std::to_string(bytes) +
         " bytes, more than a QR code holds at the module's error correction level M";
}

}  // namespace

std::string qrPayloadProblem(std::string_view data) {
  if (data.empty()) return "";  // the empty symbol: libqrencode's encodeData refuses it, the library does not
  if (data.size() > kNoQrHolds) return tooLarge(data.size());  // spares the encoder
  errno = 0;
  std::unique_ptr<QRcode, QrCodeFree> code(
      QRcode_encodeData(static_cast<int>(data.size()),
                        reinterpret_cast<const unsigned char *>(data.data()), 0, QR_ECLEVEL_M));
  if (!code) {
    if (errno == ERANGE) return tooLarge(data.size());
    return std::string("QR data cannot be encoded (") + std::strerror(errno) + ")";
  }
  const int dots = kIndentDots + (code->width + 2 * kQuietZoneModules) * kModuleDots;
  if (dots > kPaperDots)
    return "the QR code would be " + std::to_string(dots) + " dots wide with its margin; " +
           "the paper has " + std::to_string(kPaperDots);
  return "";
}

}  // namespace it433td::tools
