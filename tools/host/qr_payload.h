// qr_payload.h - whether the module can print a QR code of these bytes.
#pragma once

#include <string>
#include <string_view>

namespace it433td::tools {

// The module has the barcode library render QR codes at error correction
// level M, 3 dots a module, 16 dots from the left edge. Encodes `data` the
// same way (libqrencode, 8-bit mode) and returns why it cannot be printed,
// or "" when it can.
std::string qrPayloadProblem(std::string_view data);

}  // namespace it433td::tools
