// The four exported entry points: argument checks, the rendering session,
// and the two-file commit. Each one catches everything, so no exception
// unwinds into the caller.
#include "P32GeCodeBar.h"

#include <mutex>
#include <new>

#include "bmp_codec.h"
#include "printer_file.h"
#include "qr_symbol.h"
#include "staged_file.h"

namespace p32gecodebar {
namespace {

// The calling thread's rendering session.
struct Session {
  bool open = false;
  int32_t renderings = 0;
  int32_t firstFailure = P32GECODEBAR_OK;
};
thread_local Session session;

// Files are put in place one call at a time, so that a bitmap and a
// printer file standing side by side come from the same call.
std::mutex commitLock;

int32_t record(int32_t status) {
  if (session.open) {
    ++session.renderings;
    if (session.firstFailure == P32GECODEBAR_OK) session.firstFailure = status;
  }
  return status;
}

bool missing(const char *path) { return path == nullptr || path[0] == '\0'; }

// Writes all files, then renames them into place in order. Every file but
// the last keeps the file it replaces until all are in place: if a later
// rename fails, the earlier targets get back the files that stood there
// before the call (or are removed again where there were none).
int32_t writeFiles(StagedFile *const files[], size_t count,
                   const std::vector<uint8_t> *const contents[]) {
  for (size_t i = 0; i < count; ++i) {
    const int32_t status = files[i]->write(*contents[i]);
    if (status != P32GECODEBAR_OK) return status;  // destructors remove the temporaries
  }
  std::lock_guard<std::mutex> hold(commitLock);
  for (size_t i = 0; i < count; ++i) {
    const int32_t status = files[i]->commit(i + 1 < count);
    if (status != P32GECODEBAR_OK) {
      for (size_t done = 0; done < i; ++done) files[done]->rollback();
      return status;
    }
  }
  return P32GECODEBAR_OK;
}

int32_t renderQr(int32_t eccLevel, int32_t indent, int32_t moduleSize, const char *data,
                 int32_t length, const char *bmpPath, const char *prnPath) {
  if (length < 0 || (data == nullptr && length > 0) || moduleSize < 1 || indent < 0)
    return P32GECODEBAR_BAD_ARGUMENT;
  if (eccLevel != 'L' && eccLevel != 'M' && eccLevel != 'Q' && eccLevel != 'H')
    return P32GECODEBAR_BAD_ARGUMENT;
  if (missing(bmpPath) || missing(prnPath)) return P32GECODEBAR_NULL_PATH;

  QrModules symbol;
  int32_t status = encodeQr(eccLevel, reinterpret_cast<const uint8_t *>(data),
                            static_cast<size_t>(length), symbol);
  if (status != P32GECODEBAR_OK) return status;
  // Checked before drawing, so a huge module size allocates nothing.
  if (static_cast<int64_t>(indent) + qrImageDots(symbol, moduleSize) > CODEBAR32_PAPER_DOTS)
    return P32GECODEBAR_TOO_WIDE;

  const MonoBitmap image = drawQr(symbol, moduleSize);
  std::vector<uint8_t> printerBytes;
  status = buildPrinterFile(image, indent, CODEBAR32_CUTTER_CLEARANCE_DOTS, printerBytes);
  if (status != P32GECODEBAR_OK) return status;
  const std::vector<uint8_t> bitmapBytes = encodeBmp(image);

  StagedFile bitmap(bmpPath);
  StagedFile printer(prnPath);
  StagedFile *const files[] = {&bitmap, &printer};
  const std::vector<uint8_t> *const contents[] = {&bitmapBytes, &printerBytes};
  return writeFiles(files, 2, contents);
}

int32_t convertBmp(const char *bmpPath, const char *prnPath, int32_t indent) {
  if (indent < 0) return P32GECODEBAR_BAD_ARGUMENT;
  if (missing(bmpPath) || missing(prnPath)) return P32GECODEBAR_NULL_PATH;

  std::vector<uint8_t> fileBytes;
  int32_t status = readWholeFile(bmpPath, CODEBAR32_MAX_BITMAP_FILE, fileBytes);
  if (status != P32GECODEBAR_OK) return status;
  MonoBitmap image;
  status = decodeBmp(fileBytes.data(), fileBytes.size(), image);
  if (status != P32GECODEBAR_OK) return status;

  std::vector<uint8_t> printerBytes;
  status = buildPrinterFile(image, indent, CODEBAR32_CUTTER_CLEARANCE_DOTS, printerBytes);
  if (status != P32GECODEBAR_OK) return status;

  StagedFile printer(prnPath);
  StagedFile *const files[] = {&printer};
  const std::vector<uint8_t> *const contents[] = {&printerBytes};
  return writeFiles(files, 1, contents);
}

// Runs `work`, turning any escaping exception into a status.
template <typename Work>
int32_t guarded(Work work) {
  try {
    return work();
  } catch (const std::bad_alloc &) {
    return P32GECODEBAR_OUT_OF_MEMORY;
  } catch (...) {
    return P32GECODEBAR_INTERNAL;
  }
}

}  // namespace
}  // namespace p32gecodebar

using namespace p32gecodebar;

extern "C" {

P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarInicia(void) {
  session = Session{};
  session.open = true;
  return P32GECODEBAR_OK;
}

P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarQRCODE(int32_t eccLevel, int32_t indent,
                                                                int32_t moduleSize,
                                                                const char *data, int32_t length,
                                                                const char *bmpPath,
                                                                const char *prnPath) {
  return record(guarded(
      [&] { return renderQr(eccLevel, indent, moduleSize, data, length, bmpPath, prnPath); }));
}

P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeBMPtoPRN(const char *bmpPath,
                                                           const char *prnPath, int32_t indent) {
  return record(guarded([&] { return convertBmp(bmpPath, prnPath, indent); }));
}

P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarFinaliza(void) {
  if (!session.open) return P32GECODEBAR_NO_SESSION;
  const int32_t result = session.firstFailure;
  session = Session{};
  return result;
}

}  // extern "C"
