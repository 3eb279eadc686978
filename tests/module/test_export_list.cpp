// One list of the module's plain operations: IT433TD_PLAIN_OPERATIONS in
// Cli_Vossik.h. The module's definitions, its version script and .def files
// and the it433td tool's table are made from it; this check holds the list
// against what the built binaries really export (nm -D of the module; the
// export tables of both Windows DLLs once the Wine folder is prepared) and
// against the places that repeat it because they cannot include a C header:
// the documented declarations of the header, the Python, C# and Pascal
// bindings, and the prototype blocks of the README and docs/integration.md.
// A place that lacks an operation, has one too many, puts them in another
// order or gives one another result or other parameter types fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Cli_Vossik.h"
#include "dll_facts.h"
#include "qualified_symbol.h"
#include "source_text.h"

namespace {

using it433td::test::between;
using it433td::test::readSource;
using it433td::test::withoutComments;
using Signatures = std::vector<std::string>;

std::string trimmed(const std::string &text) {
  return std::regex_replace(text, std::regex(R"(^\s+|\s+$)"), "");
}

// An operation as C spells it, types only: "int32_t FormataTX_IT433TD(const
// char *,const char *,int32_t)". `typeOf` gives the C type of one parameter
// of `parameters` (pieces split at `separator`), `cType` of a spelt type.
template <typename TypeOf>
std::string signature(const std::string &result, const std::string &name,
                      std::string parameters, char separator, TypeOf typeOf) {
  parameters = std::regex_replace(parameters, std::regex(R"(^\s*\(|\)\s*$)"), "");
  std::string types;
  std::stringstream pieces(parameters);
  for (std::string piece; std::getline(pieces, piece, separator);) {
    if (trimmed(piece).empty() || trimmed(piece) == "void") continue;
    types += (types.empty() ? "" : ",") + typeOf(trimmed(piece));
  }
  return result + " " + name + "(" + types + ")";
}

// "const char *port" is "const char *".
std::string cParameter(const std::string &piece) {
  const std::string type = std::regex_replace(piece, std::regex(R"(\s*\w+$)"), "");
  return std::regex_replace(std::regex_replace(type, std::regex(R"(\s+)"), " "),
                            std::regex(R"(\s*\*)"), " *");
}

Signatures listed() {
#define IT433TD_LISTED(name, result, parameters, arguments) \
  signature(#result, #name, #parameters, ',', cParameter),
  return {IT433TD_PLAIN_OPERATIONS(IT433TD_LISTED)};
#undef IT433TD_LISTED
}

// The C declarations of `block`, as the header or a prototype block has them.
Signatures declaredIn(const std::string &block) {
  static const std::regex declaration(
      R"((?:IT433TD_PLAIN_API\s+)?(\w+)\s+(?:IT433TD_CALL\s+)?(\w+)\s*(\([^)]*\))\s*;)");
  Signatures found;
  const std::string code = withoutComments(block);
  for (std::sregex_iterator m(code.begin(), code.end(), declaration), end; m != end; ++m)
    found.push_back(signature((*m)[1], (*m)[2], (*m)[3], ',', cParameter));
  return found;
}

// The plain names are exactly the list's; each, and StopIT433TD, also has
// its qualified twin in namespace Cli_Vossik.
void expectExported(const std::string &binary, const std::set<std::string> &exports) {
  SCOPED_TRACE(binary);
  std::set<std::string> plain, expected;
  for (const std::string &name : exports)
    if (name.rfind("_Z", 0) != 0) plain.insert(name);
#define IT433TD_NAME(name, result, parameters, arguments) expected.insert(#name);
  IT433TD_PLAIN_OPERATIONS(IT433TD_NAME)
#undef IT433TD_NAME
  EXPECT_EQ(plain, expected);
  expected.insert("StopIT433TD");
  for (const std::string &name : expected) {
    const std::string symbol = it433td::qualifiedSymbol(name);
    bool found = false;
    for (const std::string &e : exports) found |= e.rfind(symbol, 0) == 0;
    EXPECT_TRUE(found) << "no qualified export " << symbol;
  }
}

TEST(ExportList, TheHeaderDocumentsEveryListedOperation) {
  const std::string path = "driver/Cli_Vossik.h";
  EXPECT_EQ(declaredIn(between(readSource(path), "extern \"C\" {", "} /* extern \"C\" */", path)),
            listed());
}

TEST(ExportList, TheModuleExportsExactlyTheList) {
  std::set<std::string> exports;
  std::istringstream lines(it433td::test::commandOutput(
      "nm -D --defined-only '" + std::string(IT433TD_MODULE) + "'"));
  for (std::string address, type, name; lines >> address >> type >> name;) exports.insert(name);
  ASSERT_FALSE(exports.empty()) << "nm read nothing from " << IT433TD_MODULE;
  expectExported(IT433TD_MODULE, exports);
}

TEST(ExportList, BothWindowsModulesExportExactlyTheList) {
  if (std::string(IT433TD_WINE_DIR).empty())
    GTEST_SKIP() << "no Wine folder: configure with -DIT433TD_WINE_DIR (scripts/wine-test.sh)";
  for (const it433td::test::WindowsBuild &build : it433td::test::kWindowsBuilds) {
    const auto dll = std::filesystem::path(IT433TD_WINE_DIR) / build.name / "bin/Pkg_Vossik.dll";
    ASSERT_TRUE(std::filesystem::exists(dll)) << "not built: " << dll;
    expectExported(dll.string(), it433td::test::readDll(build, dll).exports);
  }
}

// How a binding declares an operation: the groups of `declaration` that
// hold its result, name and parameters; how parameters are separated and
// which part of one is its type; and the C type of each spelt type.
struct Binding {
  std::string path, begin, end;
  std::regex declaration;
  size_t result, name, parameters;
  char separator;
  std::regex typeInParameter;
  std::map<std::string, std::string> cType;
};

Signatures declaredIn(const Binding &binding) {
  const std::string text =
      between(readSource(binding.path), binding.begin, binding.end, binding.path);
  const auto cType = [&binding](const std::string &spelt) {
    const auto known = binding.cType.find(spelt);
    return known == binding.cType.end() ? "unknown type " + spelt : known->second;
  };
  const auto typeOf = [&](const std::string &piece) {
    std::smatch type;
    std::regex_search(piece, type, binding.typeInParameter);
    return cType(type[1]);
  };
  Signatures found;
  for (std::sregex_iterator m(text.begin(), text.end(), binding.declaration), end; m != end; ++m)
    found.push_back(signature(cType((*m)[binding.result]), (*m)[binding.name],
                              (*m)[binding.parameters], binding.separator, typeOf));
  return found;
}

TEST(ExportList, EveryBindingDeclaresTheList) {
  const Binding bindings[] = {
      // "FormataTX_IT433TD": ([port, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
      {"bindings/python/it433td/__init__.py", "signatures = {", "}",
       std::regex(R"re("(\w+)":\s*\(\[([^\]]*)\],\s*([\w.]+)\))re"), 3, 1, 2, ',',
       std::regex(R"(([\w.]+))"),
       {{"ctypes.c_bool", "bool"}, {"ctypes.c_int32", "int32_t"},
        {"port", "const char *"}, {"ctypes.c_char_p", "const char *"}}},
      // public static extern int FormataTX_IT433TD(string port, byte[] text, int length);
      {"bindings/csharp/Vossik.cs", "class Native", "// The device library",
       std::regex(R"(public static extern (\w+) (\w+)\(([^)]*)\);)"), 1, 2, 3, ',',
       std::regex(R"((\S+)\s+\w+$)"),
       {{"bool", "bool"}, {"int", "int32_t"}, {"string", "const char *"},
        {"byte[]", "const char *"}}},
      // function FormataTX_IT433TD(Port: PAnsiChar; Text: PAnsiChar; Length: Integer): Integer;
      //   {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
      {"bindings/pascal/Vossik.pas", "\ninterface", "\nimplementation",
       std::regex(R"(function (\w+)(\([^)]*\))?:\s*(\w+);[^;]*;\s*external VossikModule;)"), 3, 1,
       2, ';', std::regex(R"(:\s*(\w+)$)"),
       {{"Boolean", "bool"}, {"Integer", "int32_t"}, {"PAnsiChar", "const char *"}}}};
  for (const Binding &binding : bindings) EXPECT_EQ(declaredIn(binding), listed()) << binding.path;
}

// The fenced C block of a page that declares StartIT433TD(void);.
TEST(ExportList, TheDocumentationShowsTheList) {
  for (const std::string path : {"README.md", "docs/integration.md"}) {
    const std::string page = readSource(path);
    const std::size_t at = page.find("StartIT433TD(void);");
    ASSERT_NE(at, std::string::npos) << path << " shows no prototypes";
    const std::size_t from = page.rfind("```c\n", at);
    ASSERT_NE(from, std::string::npos) << path;
    EXPECT_EQ(declaredIn(page.substr(from, page.find("```", at) - from)), listed()) << path;
  }
}

}  // namespace
