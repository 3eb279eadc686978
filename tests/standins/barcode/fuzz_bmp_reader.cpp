// libFuzzer target for the BMP reader: any bytes give a status or a bitmap,
// never a read outside the input. Built only with Clang:
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz && cmake --build build-fuzz --target fuzz_bmp_reader
//   build-fuzz/bin/fuzz_bmp_reader -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "P32GeCodeBar.h"
#include "bmp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  p32gecodebar::MonoBitmap image;
  const int32_t status = p32gecodebar::decodeBmp(data, size, image);
  if (status == P32GECODEBAR_OK) {
    // A decoded bitmap is consistent with itself: touch every row.
    if (image.width() <= 0 || image.height() <= 0) std::abort();
    for (int32_t y = 0; y < image.height(); ++y) (void)image.rowIsWhite(y);
  } else if (status != P32GECODEBAR_BAD_BITMAP && status != P32GECODEBAR_UNSUPPORTED_BITMAP &&
             status != P32GECODEBAR_BITMAP_TOO_LARGE) {
    std::abort();
  }
  return 0;
}
