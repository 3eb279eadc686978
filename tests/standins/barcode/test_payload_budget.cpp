// The largest payload whose printer file crosses the serial line inside the
// driver's 3000 ms copy window, at the driver's values (ECC M, indent 16,
// 3 dots per module). 57600 baud with space parity: 11 bits a byte, 5236
// bytes a second, 15708 bytes in 3 s.
#include <gtest/gtest.h>

#include <iostream>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"

using namespace barcode_test;

namespace {

constexpr size_t kCopyWindowBytes = 57600 / 11 * 3;

std::optional<size_t> printerFileSize(const TempFolder &folder, size_t payloadBytes) {
  Bytes payload(payloadBytes);
  for (size_t i = 0; i < payloadBytes; ++i) payload[i] = static_cast<uint8_t>(i * 131 + 7);
  const Rendering r = renderQr(folder, payload, 'M', 16, 3);
  if (r.status != P32GECODEBAR_OK) return std::nullopt;
  return r.prn->size();
}

TEST(PayloadBudget, LargestPayloadInsideTheCopyWindowAtTheDriversValues) {
  ASSERT_EQ(kCopyWindowBytes, 15708u);
  TempFolder folder;
  // The file grows with the symbol's version, so the fitting lengths form a
  // prefix: binary search for its end.
  size_t fits = 0, fails = 2332;
  while (fails - fits > 1) {
    const size_t middle = (fits + fails) / 2;
    const auto size = printerFileSize(folder, middle);
    (size && *size <= kCopyWindowBytes ? fits : fails) = middle;
  }
  const size_t fileAtLimit = *printerFileSize(folder, fits);
  std::cout << "largest payload inside 3000 ms: " << fits << " bytes, printer file "
            << fileAtLimit << " bytes; one byte more: " << *printerFileSize(folder, fits + 1)
            << " bytes\n";
  RecordProperty("largest_payload_bytes", static_cast<int>(fits));
  RecordProperty("printer_file_bytes", static_cast<int>(fileAtLimit));
  // Version 29 at ECC M holds 1,264 bytes in a 15,396-byte file (3 dots a
  // module sent as two data rows); version 30 makes 16,178 bytes, 90 ms too
  // long for the window. Sent as plain rows, the limit was 911 bytes.
  EXPECT_EQ(fits, 1264u);
  EXPECT_GE(fits, 1000u) << "a 1,000-byte payload must fit the window";
  EXPECT_LE(fileAtLimit, kCopyWindowBytes);
}

}  // namespace
