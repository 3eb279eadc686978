// The Windows DLLs as a host and a point-of-sale machine see them, read with
// mingw's objdump and icoutils' wrestool: export names (plain names
// undecorated on i686 too), the module's own name PKG_VOSSIK, the version
// resource, and imports of system libraries only (a machine with
// no compiler has no mingw runtime DLLs). Both builds are checked, x86_64
// and i686 (ctest runs each width's cases under its own name and label, as
// it runs the Wine tests of each width).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Cli_Vossik.h"
#include "dll_facts.h"
#include "qualified_symbol.h"

namespace fs = std::filesystem;

namespace {

using it433td::test::DllFacts;
using it433td::test::WindowsBuild;

std::string buildName(const ::testing::TestParamInfo<WindowsBuild> &param) {
  return param.param.name;
}

class WindowsDlls : public ::testing::TestWithParam<WindowsBuild> {
 protected:
  void SetUp() override {
    bin_ = fs::path(IT433TD_WINE_DIR) / GetParam().name / "bin";
    ASSERT_TRUE(fs::exists(bin_ / "Pkg_Vossik.dll")) << "not built: " << bin_;
  }
  DllFacts facts(const char *dll) { return it433td::test::readDll(GetParam(), bin_ / dll); }
  fs::path bin_;
};

#define IT433TD_PLAIN_NAME(name, result, parameters, arguments) #name,
const char *const kPlainNames[] = {IT433TD_PLAIN_OPERATIONS(IT433TD_PLAIN_NAME)};
#undef IT433TD_PLAIN_NAME

TEST_P(WindowsDlls, ModuleExportsThePlainNamesUndecorated) {
  DllFacts pe = facts("Pkg_Vossik.dll");
  for (const char *name : kPlainNames) EXPECT_TRUE(pe.exports.count(name)) << name;
  EXPECT_FALSE(pe.exports.count("StopIT433TD")) << "exported under its qualified name only";
  for (const std::string &name : pe.exports)
    EXPECT_EQ(name.find('@'), std::string::npos) << "stdcall decoration: " << name;
}

TEST_P(WindowsDlls, ModuleExportsTheQualifiedNamesMangled) {
  DllFacts pe = facts("Pkg_Vossik.dll");
  const std::vector<std::string> qualified = {
      "StartIT433TD", "StopIT433TD", "IniciaPorta_IT433TD", "FechaPorta_IT433TD",
      "FormataTX_IT433TD", "ImprimeCODE128_IT433TD", "AcionaGuilhotina_IT433TD",
      "ImprimeQRCode_IT433TD", "DLLMEGENCOM32", "DLLP32GeCodeBar", "rdmIT433TD",
      "MEGENCOM32_AbrirDispositivo", "MEGENCOM32_AtivarLOG", "CODEBAR32_PGeCodeBarQRCODE",
      "CODEBAR32_PGeBMPtoPRN"};
  for (const std::string &name : qualified) {
    const std::string mangled = it433td::qualifiedSymbol(name);
    bool found = false;
    for (const std::string &e : pe.exports) found |= e.rfind(mangled, 0) == 0;
    EXPECT_TRUE(found) << mangled;
  }
}

TEST_P(WindowsDlls, ModuleNamesItselfPKG_VOSSIK) {
  EXPECT_EQ(facts("Pkg_Vossik.dll").moduleName, "PKG_VOSSIK");
}

// VS_FIXEDFILEINFO: signature 0xFEEF04BD, struct version, then file version
// MS/LS and product version MS/LS, little-endian. The project's version
// (IT433TD_VERSION_*, from the build) as MAJOR.MINOR.PATCH.0, and as text
// with the patch number in three digits: 6.25.11 reads "6.25.011".
TEST_P(WindowsDlls, VersionResourceCarriesTheProjectVersion) {
  const std::string resource =
      it433td::test::commandOutput("wrestool -x --raw --type=16 '" +
                                   (bin_ / "Pkg_Vossik.dll").string() + "'");
  const std::string signature("\xBD\x04\xEF\xFE", 4);
  size_t at = resource.find(signature);
  ASSERT_NE(at, std::string::npos) << "no version resource";
  ASSERT_GE(resource.size(), at + 24);
  auto dword = [&](size_t offset) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<uint8_t>(resource[at + offset + i]);
    return v;
  };
  const uint32_t majorMinor = IT433TD_VERSION_MAJOR << 16 | IT433TD_VERSION_MINOR;
  const uint32_t patchZero = IT433TD_VERSION_PATCH << 16;
  EXPECT_EQ(dword(8), majorMinor) << "file version, major and minor";
  EXPECT_EQ(dword(12), patchZero) << "file version, patch and 0";
  EXPECT_EQ(dword(16), majorMinor) << "product version, major and minor";
  EXPECT_EQ(dword(20), patchZero) << "product version, patch and 0";
  // The version strings, in UTF-16.
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%03u", IT433TD_VERSION_MAJOR, IT433TD_VERSION_MINOR,
                IT433TD_VERSION_PATCH);
  std::string wide;
  for (const char *c = text; *c; ++c) wide += std::string{*c, '\0'};
  EXPECT_NE(resource.find(wide), std::string::npos) << '"' << text << '"';
}

TEST_P(WindowsDlls, StandInsExportTheVendorNamesUndecorated) {
  const std::set<std::string> device = {
      "MEGENCOM32_AbrirDispositivo", "MEGENCOM32_FecharDispositivo",
      "MEGENCOM32_ConfigurarTimeoutsRXTX", "MEGENCOM32_EscrevernoDispositivo",
      "MEGENCOM32_LeroDispositivo", "MEGENCOM32_PreparaImpressao",
      "MEGENCOM32_AguardaImpressao", "MEGENCOM32_AguardaImpressaoStr",
      "MEGENCOM32_StatusDoDispositivo", "MEGENCOM32_AtivarLOG"};
  const std::set<std::string> barcode = {"CODEBAR32_PGeCodeBarInicia",
                                         "CODEBAR32_PGeCodeBarQRCODE", "CODEBAR32_PGeBMPtoPRN",
                                         "CODEBAR32_PGeCodeBarFinaliza"};
  EXPECT_EQ(facts("MEGENCOM32.dll").exports, device);
  EXPECT_EQ(facts("P32GeCodeBar.dll").exports, barcode);
}

TEST_P(WindowsDlls, EveryDllNeedsOnlyWindowsSystemLibraries) {
  const std::set<std::string> system = {"KERNEL32.dll", "msvcrt.dll", "SHELL32.dll",
                                        "USER32.dll", "ADVAPI32.dll"};
  for (const char *dll : {"Pkg_Vossik.dll", "MEGENCOM32.dll", "P32GeCodeBar.dll"}) {
    for (const std::string &import : facts(dll).imports)
      EXPECT_TRUE(system.count(import)) << dll << " needs " << import;
  }
}

INSTANTIATE_TEST_SUITE_P(, WindowsDlls,
                         ::testing::ValuesIn(it433td::test::kWindowsBuilds), buildName);

}  // namespace
