// One list of the module's plain operations: IT433TD_PLAIN_OPERATIONS in
// Cli_Vossik.h. The module's definitions, its version script and .def files
// and the it433td tool's table are made from it; this check holds the list
// against what the built binaries really export (nm -D of the module; the
// export tables of both Windows DLLs once the Wine folder is prepared) and
// against the places that repeat it because they cannot include a C header:
// the documented declarations of the header, the Python, C# and Pascal
// bindings, and the prototype blocks of the README and docs/integration.md.
// A place that lacks an operation, has one too many, or gives one another
// shape (result, parameters) fails here.
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

// A C declaration with its spacing made regular: "int32_t", "const char *".
std::string regular(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\s+)"), " ");
  text = std::regex_replace(text, std::regex(R"(\s*\*\s*)"), " *");
  text = std::regex_replace(text, std::regex(R"(\s*([(),])\s*)"), "$1");
  return text;
}

struct Operation {
  std::string name;
  std::string result;                   // "bool", "int32_t"
  std::string parameters;               // regular(): "(const char *port)"
  std::vector<std::string> types;       // "const char *", "int32_t"
};

// The parameter types of "(const char *port,int32_t length)"; none for "(void)".
std::vector<std::string> typesOf(const std::string &parameters) {
  std::vector<std::string> types;
  std::stringstream pieces(parameters.substr(1, parameters.size() - 2));
  for (std::string piece; std::getline(pieces, piece, ',');) {
    if (piece == "void" || piece.empty()) continue;
    types.push_back(std::regex_replace(piece, std::regex(R"(\s*\w+$)"), ""));
  }
  return types;
}

Operation operation(std::string name, std::string result, const std::string &parameters) {
  const std::string shape = regular(parameters);
  return {std::move(name), std::move(result), shape, typesOf(shape)};
}

#define IT433TD_LISTED(name, result, parameters, arguments) operation(#name, #result, #parameters),
const std::vector<Operation> kList = {IT433TD_PLAIN_OPERATIONS(IT433TD_LISTED)};
#undef IT433TD_LISTED

std::set<std::string> listedNames() {
  std::set<std::string> names;
  for (const Operation &op : kList) names.insert(op.name);
  return names;
}

// `found` holds the list's operations in its order, each with its shape.
void expectTheList(const std::string &place, const std::vector<Operation> &found) {
  SCOPED_TRACE(place);
  std::vector<std::string> names, listed;
  for (const Operation &op : found) names.push_back(op.name);
  for (const Operation &op : kList) listed.push_back(op.name);
  EXPECT_EQ(names, listed) << "not the list's operations in its order";
  for (const Operation &op : found)
    for (const Operation &entry : kList) {
      if (entry.name != op.name) continue;
      EXPECT_EQ(op.result, entry.result) << op.name;
      EXPECT_EQ(op.parameters, entry.parameters) << op.name;
    }
}

// The exports of a binary that are no C++ symbols: its plain names.
std::set<std::string> plainOf(const std::set<std::string> &exports) {
  std::set<std::string> plain;
  for (const std::string &name : exports)
    if (name.rfind("_Z", 0) != 0) plain.insert(name);
  return plain;
}

// The plain names are exactly the list's; each also has its qualified twin
// in namespace Cli_Vossik; StopIT433TD has only the qualified name.
void expectExported(const std::string &binary, const std::set<std::string> &exports) {
  SCOPED_TRACE(binary);
  EXPECT_EQ(plainOf(exports), listedNames());
  std::set<std::string> twins = listedNames();
  twins.insert("StopIT433TD");
  for (const std::string &name : twins) {
    const std::string symbol = it433td::qualified_symbol(name);
    bool found = false;
    for (const std::string &e : exports) found |= e.rfind(symbol, 0) == 0;
    EXPECT_TRUE(found) << "no qualified export " << symbol;
  }
}

TEST(ExportList, TheHeaderDocumentsEveryListedOperation) {
  const std::string path = "driver/Cli_Vossik.h";
  const std::string block = withoutComments(
      between(readSource(path), "extern \"C\" {", "} /* extern \"C\" */", path));
  const std::regex declaration(
      R"(IT433TD_PLAIN_API\s+(\w+)\s+IT433TD_CALL\s+(\w+)\s*(\([^)]*\))\s*;)");
  std::vector<Operation> found;
  for (std::sregex_iterator m(block.begin(), block.end(), declaration), end; m != end; ++m)
    found.push_back(operation((*m)[2], (*m)[1], (*m)[3]));
  expectTheList(path, found);
}

TEST(ExportList, TheModuleExportsExactlyTheList) {
  std::set<std::string> exports;
  std::istringstream lines(it433td::test::command_output(
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
    expectExported(dll.string(), it433td::test::read_dll(build, dll).exports);
  }
}

// Each binding's type for a C type of the list, and for a result.
struct Spelling {
  std::map<std::string, std::set<std::string>> types;
};

void expectBinding(const std::string &path, const std::regex &function, int resultGroup,
                   int nameGroup, int parametersGroup, const std::string &separator,
                   const std::regex &typeOfParameter, const Spelling &spelling,
                   const std::string &text) {
  SCOPED_TRACE(path);
  std::vector<std::string> names, listed;
  for (const Operation &op : kList) listed.push_back(op.name);
  for (std::sregex_iterator m(text.begin(), text.end(), function), end; m != end; ++m) {
    const std::string name = (*m)[nameGroup];
    names.push_back(name);
    const Operation *entry = nullptr;
    for (const Operation &op : kList)
      if (op.name == name) entry = &op;
    if (!entry) continue;
    EXPECT_EQ(spelling.types.at(entry->result).count((*m)[resultGroup]), 1u)
        << name << " answers " << (*m)[resultGroup] << ", the list " << entry->result;
    std::vector<std::string> types;
    const std::string parameters = (*m)[parametersGroup];
    for (std::size_t from = 0; from < parameters.size();) {
      std::size_t to = parameters.find(separator, from);
      if (to == std::string::npos) to = parameters.size();
      std::smatch type;
      const std::string piece = parameters.substr(from, to - from);
      if (std::regex_search(piece, type, typeOfParameter)) types.push_back(type[1]);
      from = to + separator.size();
    }
    ASSERT_EQ(types.size(), entry->types.size()) << name << ": " << parameters;
    for (std::size_t i = 0; i < types.size(); ++i)
      EXPECT_EQ(spelling.types.at(entry->types[i]).count(types[i]), 1u)
          << name << " parameter " << i + 1 << " is " << types[i] << ", the list "
          << entry->types[i];
  }
  EXPECT_EQ(names, listed) << "not the list's operations in its order";
}

TEST(ExportList, EveryBindingDeclaresTheList) {
  // Python: "FormataTX_IT433TD": ([port, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
  {
    const std::string path = "bindings/python/it433td/__init__.py";
    expectBinding(path, std::regex(R"re("(\w+)":\s*\(\[([^\]]*)\],\s*([\w.]+)\))re"), 3, 1, 2,
                  ",", std::regex(R"(([\w.]+))"),
                  {{{"bool", {"ctypes.c_bool"}},
                    {"int32_t", {"ctypes.c_int32"}},
                    {"const char *", {"port", "ctypes.c_char_p"}}}},
                  between(readSource(path), "signatures = {", "}", path));
  }
  // C#: public static extern int FormataTX_IT433TD(string port, byte[] text, int length);
  {
    const std::string path = "bindings/csharp/Vossik.cs";
    const std::string text = readSource(path);
    std::string module;
    const std::regex import(R"(\[DllImport\(Module[^\]]*\]\s*(\[return:[^\]]*\]\s*)?public static extern [^;]*;)");
    for (std::sregex_iterator m(text.begin(), text.end(), import), end; m != end; ++m)
      module += m->str() + "\n";
    expectBinding(path, std::regex(R"(public static extern (\w+) (\w+)\(([^)]*)\);)"), 1, 2, 3,
                  ",", std::regex(R"(^\s*(\S+)\s+\w+\s*$)"),
                  {{{"bool", {"bool"}}, {"int32_t", {"int"}}, {"const char *", {"string", "byte[]"}}}},
                  module);
  }
  // Pascal: function FormataTX_IT433TD(Port: PAnsiChar; Text: PAnsiChar; Length: Integer): Integer;
  //           ... external VossikModule;
  {
    const std::string path = "bindings/pascal/Vossik.pas";
    expectBinding(path,
                  std::regex(R"(function (\w+)(?:\(([^)]*)\))?:\s*(\w+);[^;]*;\s*external VossikModule;)"),
                  3, 1, 2, ";", std::regex(R"(:\s*(\w+)\s*$)"),
                  {{{"bool", {"Boolean"}}, {"int32_t", {"Integer"}}, {"const char *", {"PAnsiChar"}}}},
                  between(readSource(path), "\ninterface", "\nimplementation", path));
  }
}

// The fenced C block of a page that declares StartIT433TD(void);, as in
// int32_t FormataTX_IT433TD(const char *port, const char *text, int32_t length);
TEST(ExportList, TheDocumentationShowsTheList) {
  for (const std::string path : {"README.md", "docs/integration.md"}) {
    const std::string page = readSource(path);
    const std::size_t at = page.find("StartIT433TD(void);");
    ASSERT_NE(at, std::string::npos) << path << " shows no prototypes";
    const std::size_t from = page.rfind("```c\n", at);
    ASSERT_NE(from, std::string::npos) << path;
    const std::string block = withoutComments(page.substr(from, page.find("```", at) - from));
    const std::regex prototype(R"((\w+)\s+(\w+)(\([^)]*\));)");
    std::vector<Operation> found;
    for (std::sregex_iterator m(block.begin(), block.end(), prototype), end; m != end; ++m)
      found.push_back(operation((*m)[2], (*m)[1], (*m)[3]));
    expectTheList(path, found);
  }
}

}  // namespace
