// The fake barcode library: logs every call and, unless told not to,
// writes a recognisable printer file and bitmap for the data. With
// FAKE_BARCODE_PLANT set it then plays another user of a shared folder:
// the printer file is swapped for a link to the file that variable names.
// With FAKE_BARCODE_PUT_BACK set to "<request fd> <reply fd> <path>", a
// process at the other end of those pipes (another user's, in the tests) is
// asked to rename that path over the printer file just written, and waited
// for.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_vendor.h"

namespace {

bool writeFile(const char *path, const std::string &content) {
  if (!path) return false;
  FILE *file = std::fopen(path, "wb");
  if (!file) return false;
  const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

FAKE_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarInicia(void) {
  FakeCall call;
  call.entry = "CODEBAR32_PGeCodeBarInicia";
  fakeVendor()->record(call);
  return 0;
}

FAKE_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarQRCODE(int32_t eccLevel, int32_t indent,
                                                         int32_t moduleSize, const char *data,
                                                         int32_t length, const char *bmpPath,
                                                         const char *prnPath) {
  FakeCall call;
  call.entry = "CODEBAR32_PGeCodeBarQRCODE";
  call.numbers = {eccLevel, indent, moduleSize, length};
  call.nullData = data == nullptr;
  // The module promises a 0x00 byte after the data: read it too.
  if (data && length >= 0) call.bytes.assign(data, size_t(length) + 1);
  call.bitmapPath = bmpPath ? bmpPath : "";
  call.printerPath = prnPath ? prnPath : "";
  fakeVendor()->record(call);
  if (!fakeVendor()->render) return 1;
  const std::string payload = data ? std::string(data, size_t(length)) : std::string();
  const bool ok = writeFile(bmpPath, "BM") && writeFile(prnPath, fakePrinterFile(payload));
  if (const char *planted = std::getenv("FAKE_BARCODE_PLANT"); ok && planted) {
    unlink(prnPath);
    if (symlink(planted, prnPath) != 0) return 3;
  }
  int request = -1, reply = -1;
  char earlier[4096];
  if (const char *putBack = std::getenv("FAKE_BARCODE_PUT_BACK");
      ok && putBack && std::sscanf(putBack, "%d %d %4095s", &request, &reply, earlier) == 3) {
    const std::string paths = std::string(earlier) + "\n" + prnPath + "\n";
    char done = 0;
    if (write(request, paths.data(), paths.size()) != ssize_t(paths.size()) ||
        read(reply, &done, 1) != 1)
      return 4;
  }
  return ok ? 0 : 2;
}

#ifndef FAKE_OMIT_BMPTOPRN
FAKE_API void IT433TD_CALL CODEBAR32_PGeBMPtoPRN(void) {
  FakeCall call;
  call.entry = "CODEBAR32_PGeBMPtoPRN";
  fakeVendor()->record(call);
}
#endif

FAKE_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarFinaliza(void) {
  FakeCall call;
  call.entry = "CODEBAR32_PGeCodeBarFinaliza";
  fakeVendor()->record(call);
  return 0;
}
