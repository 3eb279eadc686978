// The helpers that call the barcode library itself; the rest of
// barcode_test_support.h needs no library and is shared with other tests.
#include "barcode_test_support.h"

#include "P32GeCodeBar.h"

namespace barcode_test {

Rendering renderQr(const TempFolder &folder, const Bytes &payload, int32_t ecc, int32_t indent,
                   int32_t moduleSize) {
  Rendering r;
  r.bmpPath = folder.file("qrCode.bmp");
  r.prnPath = folder.file("qrCode.prn");
  // The driver hands the data followed by a 0x00 byte, or null when empty.
  std::string terminated(payload.begin(), payload.end());
  r.status = CODEBAR32_PGeCodeBarQRCODE(ecc, indent, moduleSize,
                                        payload.empty() ? nullptr : terminated.c_str(),
                                        static_cast<int32_t>(payload.size()), r.bmpPath.c_str(),
                                        r.prnPath.c_str());
  r.bmp = readFile(r.bmpPath);
  r.prn = readFile(r.prnPath);
  return r;
}

Decodings decodeRendering(const Rendering &rendering, int scale) {
  Decodings d;
  if (rendering.bmp) {
    if (auto out = decodeFileWithZbarimg(rendering.bmpPath)) {
      // zbarimg ends every symbol's data with a newline of its own.
      if (!out->empty() && out->back() == '\n') out->pop_back();
      d.fromBmp = std::move(out);
    }
  }
  if (rendering.prn) {
    const Paper paper = printOnPaper(*rendering.prn);
    if (paper.wellFormed) {
      const GreyImage image = scale > 1 ? scaleUp(paper.image, scale) : paper.image;
      const std::vector<Bytes> found = decodeWithZbar(image);
      if (found.size() == 1) d.fromPaperZbar = found.front();
      d.fromPaperZxing = decodeWithZxing(image);
    }
  }
  return d;
}

}  // namespace barcode_test
