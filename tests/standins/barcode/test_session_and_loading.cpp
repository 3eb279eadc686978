// The rendering session, renderings from several threads at once, and the
// library as the driver meets it: loaded with dlopen, four names bound.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"

using namespace barcode_test;

namespace {

TEST(Session, FinalizaReportsTheFirstFailureOfTheSession) {
  TempFolder folder;
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_NO_SESSION);

  EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
  EXPECT_EQ(renderQr(folder, bytesOf("ok"), 'M').status, P32GECODEBAR_OK);
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_OK);
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_NO_SESSION);

  EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
  EXPECT_EQ(renderQr(folder, bytesOf("bad"), 'X').status, P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(renderQr(folder, bytesOf("ok"), 'M', 16, 40).status, P32GECODEBAR_TOO_WIDE);
  EXPECT_EQ(renderQr(folder, bytesOf("ok"), 'M').status, P32GECODEBAR_OK);
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_BAD_ARGUMENT);
}

TEST(Session, IniciaAgainStartsAfreshAndRenderingNeedsNoSession) {
  TempFolder folder;
  EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
  EXPECT_EQ(renderQr(folder, bytesOf("bad"), 'X').status, P32GECODEBAR_BAD_ARGUMENT);
  EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_OK);
  // Outside any session.
  const Rendering r = renderQr(folder, bytesOf("no session"), 'M');
  EXPECT_EQ(r.status, P32GECODEBAR_OK);
  EXPECT_EQ(decodeRendering(r).fromPaperZbar, bytesOf("no session"));
}

TEST(Session, EachThreadHasItsOwn) {
  TempFolder folder;
  EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
  std::thread other([&] {
    EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_NO_SESSION);
    EXPECT_EQ(CODEBAR32_PGeCodeBarInicia(), P32GECODEBAR_OK);
    EXPECT_EQ(renderQr(folder, bytesOf("x"), 'X').status, P32GECODEBAR_BAD_ARGUMENT);
    EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_BAD_ARGUMENT);
  });
  other.join();
  EXPECT_EQ(CODEBAR32_PGeCodeBarFinaliza(), P32GECODEBAR_OK);
}

// Many threads render different payloads to the same two paths. Whatever
// call wins, the bitmap and printer file left standing hold the same code,
// and no temporary file is left.
TEST(Concurrency, SimultaneousRenderingsLeaveAMatchingPair) {
  TempFolder folder;
  const std::string bmp = folder.file("qrCode.bmp");
  const std::string prn = folder.file("qrCode.prn");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 15; ++i) {
        const std::string payload = "thread " + std::to_string(t) + " call " + std::to_string(i);
        CODEBAR32_PGeCodeBarInicia();
        if (CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, payload.c_str(),
                                       static_cast<int32_t>(payload.size()), bmp.c_str(),
                                       prn.c_str()) != P32GECODEBAR_OK)
          ++failures;
        if (CODEBAR32_PGeCodeBarFinaliza() != P32GECODEBAR_OK) ++failures;
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  Rendering last;
  last.bmpPath = bmp;
  last.prnPath = prn;
  last.bmp = readFile(bmp);
  last.prn = readFile(prn);
  const Decodings d = decodeRendering(last);
  ASSERT_TRUE(d.fromPaperZbar.has_value());
  EXPECT_EQ(d.fromBmp, d.fromPaperZbar);
  EXPECT_EQ(folderEntries(folder.path()).size(), 2u);
}

// The driver's way in: dlopen by path, the four names in binding order,
// called through the contract's pointer types.
TEST(Loading, TheDriverBindsAndCallsTheFourEntryPoints) {
  void *library = ::dlopen(P32GECODEBAR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  const char *names[] = {"CODEBAR32_PGeCodeBarInicia", "CODEBAR32_PGeCodeBarQRCODE",
                         "CODEBAR32_PGeBMPtoPRN", "CODEBAR32_PGeCodeBarFinaliza"};
  for (const char *name : names) EXPECT_NE(::dlsym(library, name), nullptr) << name;

  auto inicia = reinterpret_cast<CODEBAR32_PGeCodeBarInicia_fn>(::dlsym(library, names[0]));
  auto qrcode = reinterpret_cast<CODEBAR32_PGeCodeBarQRCODE_fn>(::dlsym(library, names[1]));
  auto finaliza = reinterpret_cast<CODEBAR32_PGeCodeBarFinaliza_fn>(::dlsym(library, names[3]));
  ASSERT_TRUE(inicia && qrcode && finaliza);

  TempFolder folder;
  Rendering r;
  r.bmpPath = folder.file("qrCode.bmp");
  r.prnPath = folder.file("qrCode.prn");
  const char data[] = "cupom\0 binario";  // followed by 0x00, as the driver passes it
  inicia();
  EXPECT_EQ(qrcode(77, 16, 3, data, sizeof data - 1, r.bmpPath.c_str(), r.prnPath.c_str()),
            P32GECODEBAR_OK);
  EXPECT_EQ(finaliza(), P32GECODEBAR_OK);
  r.bmp = readFile(r.bmpPath);
  r.prn = readFile(r.prnPath);
  EXPECT_EQ(decodeRendering(r).fromPaperZxing, Bytes(data, data + sizeof data - 1));
  ::dlclose(library);
}

}  // namespace
