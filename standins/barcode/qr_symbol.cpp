#include "qr_symbol.h"

#include <qrencode.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "P32GeCodeBar.h"

namespace p32gecodebar {
namespace {

struct QrCodeFree {
  void operator()(QRcode *code) const { QRcode_free(code); }
};
struct QrInputFree {
  void operator()(QRinput *input) const { QRinput_free(input); }
};

bool toLevel(int32_t eccLevel, QRecLevel &level) {
  switch (eccLevel) {
  case 'L': level = QR_ECLEVEL_L; return true;
  case 'M': level = QR_ECLEVEL_M; return true;
  case 'Q': level = QR_ECLEVEL_Q; return true;
  case 'H': level = QR_ECLEVEL_H; return true;
  default: return false;
  }
}

// libqrencode builds its Reed-Solomon tables lazily; whether that is
// guarded depends on how it was built, so encodings take turns.
std::mutex encoderLock;

}  // namespace

int32_t encodeQr(int32_t eccLevel, const uint8_t *data, size_t length, QrModules &out) {
  QRecLevel level;
  if (!toLevel(eccLevel, level)) return P32GECODEBAR_BAD_ARGUMENT;
  // No QR code holds more; refusing here spares the encoder a huge copy.
  if (length > kMaxQrPayloadBytes) return P32GECODEBAR_DATA_TOO_LONG;

  std::unique_ptr<QRcode, QrCodeFree> code;
  int error = 0;
  {
    std::lock_guard<std::mutex> hold(encoderLock);
    errno = 0;
    if (length == 0) {
      // QRcode_encodeData refuses an empty payload (EINVAL); an input with
      // no segment encodes as a valid symbol holding only the terminator.
      std::unique_ptr<QRinput, QrInputFree> input(QRinput_new2(0, level));
      if (input) code.reset(QRcode_encodeInput(input.get()));
    } else {
      // 8-bit mode: every byte, 0x00 included, is taken as it is.
      code.reset(QRcode_encodeData(static_cast<int>(length), data, 0, level));
    }
    error = errno;
  }
  if (!code) {
    if (error == ERANGE) return P32GECODEBAR_DATA_TOO_LONG;
    if (error == ENOMEM) return P32GECODEBAR_OUT_OF_MEMORY;
    return P32GECODEBAR_ENCODE_FAILED;
  }

  out.version = code->version;
  out.width = code->width;
  const size_t count = static_cast<size_t>(code->width) * static_cast<size_t>(code->width);
  out.dark.resize(count);
  // Bit 0 of each module byte is its colour; the other bits describe its role.
  for (size_t i = 0; i < count; ++i) out.dark[i] = code->data[i] & 1;
  return P32GECODEBAR_OK;
}

int64_t qrImageDots(const QrModules &symbol, int32_t moduleSize) {
  return (static_cast<int64_t>(symbol.width) + 2 * CODEBAR32_QUIET_ZONE_MODULES) * moduleSize;
}

MonoBitmap drawQr(const QrModules &symbol, int32_t moduleSize) {
  const auto side = static_cast<int32_t>(qrImageDots(symbol, moduleSize));
  const int32_t origin = CODEBAR32_QUIET_ZONE_MODULES * moduleSize;
  MonoBitmap image(side, side);
  for (int32_t y = 0; y < symbol.width; ++y)
    for (int32_t x = 0; x < symbol.width; ++x)
      if (symbol.dark[static_cast<size_t>(y) * static_cast<size_t>(symbol.width) +
                      static_cast<size_t>(x)])
        image.fillRect(origin + x * moduleSize, origin + y * moduleSize, moduleSize, moduleSize);
  return image;
}

}  // namespace p32gecodebar
