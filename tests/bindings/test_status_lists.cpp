// One list of statuses per library: its public header's enum. The places
// that cannot include a C header list them again (the README's status table,
// the Python, C# and Pascal bindings); this check reads each header's enum
// and fails when a place lacks a status, names one the header does not have,
// or gives it another value, and when a header's name function misses a
// member of its enum.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"
#include "P32GeCodeBar.h"
#include "source_text.h"

namespace {

using it433td::test::between;
using it433td::test::readSource;
using it433td::test::withoutComments;

struct Status {
  std::string name;
  long value;
};

// The members of `enum <tag> { ... };` in a header; each must have a value
// of its own written out, so that the places below can be compared with it.
std::vector<Status> headerEnum(const std::string &path, const std::string &tag) {
  const std::string body =
      withoutComments(between(readSource(path), "enum " + tag + " {", "};", path));
  static const std::regex member(R"(^\s*([A-Za-z_]\w*)\s*(=\s*(-?\d+))?\s*$)");
  std::vector<Status> members;
  std::stringstream pieces(body.substr(body.find('{') + 1));
  for (std::string piece; std::getline(pieces, piece, ',');) {
    if (piece.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    std::smatch m;
    if (!std::regex_match(piece, m, member) || !m[2].matched) {
      ADD_FAILURE() << path << ": enum " << tag << " member without a value of its own:" << piece;
      continue;
    }
    members.push_back({m[1], std::stol(m[3])});
  }
  EXPECT_GE(members.size(), 5u) << path << ": enum " << tag << " not read";
  return members;
}

// Every (name, value) pair that `pattern` finds in `text`.
std::vector<Status> listed(const std::string &text, const std::regex &pattern, size_t nameGroup,
                           size_t valueGroup) {
  std::vector<Status> found;
  for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m)
    found.push_back({(*m)[nameGroup], std::stol((*m)[valueGroup])});
  return found;
}

// How completely a place lists one library's statuses.
enum class Listing { None, Some, All };

struct Library {
  std::string prefix;
  std::vector<Status> members;
};

// A place lists each status once, only statuses its library's header has and
// with their values, and, where it lists all of a library's statuses, every
// failure status (0 may be spelt "OK" or left to the prose).
void expectPlaceAgrees(const std::string &place, const std::vector<Status> &entries,
                       const std::vector<Library> &libraries,
                       const std::vector<Listing> &listings) {
  SCOPED_TRACE(place);
  EXPECT_FALSE(entries.empty()) << "no statuses read";
  std::set<std::string> names;
  std::set<long> values;
  for (const Status &entry : entries) {
    EXPECT_TRUE(names.insert(entry.name).second) << entry.name << " listed twice";
    EXPECT_TRUE(values.insert(entry.value).second) << "value " << entry.value << " listed twice";
    if (entry.name == "OK") {
      EXPECT_EQ(entry.value, 0);
      continue;
    }
    bool known = false;
    for (std::size_t i = 0; i < libraries.size(); ++i) {
      if (entry.name.rfind(libraries[i].prefix, 0) != 0) continue;
      known = true;
      EXPECT_NE(listings[i], Listing::None) << entry.name << " is not meant to be listed here";
      bool inHeader = false;
      for (const Status &member : libraries[i].members) {
        if (member.name != entry.name) continue;
        inHeader = true;
        EXPECT_EQ(entry.value, member.value) << entry.name << " has another value in the header";
      }
      EXPECT_TRUE(inHeader) << entry.name << " is no status of the header";
    }
    EXPECT_TRUE(known) << entry.name << " belongs to no library";
  }
  for (std::size_t i = 0; i < libraries.size(); ++i) {
    if (listings[i] != Listing::All) continue;
    for (const Status &member : libraries[i].members) {
      if (member.value == 0) continue;
      EXPECT_EQ(names.count(member.name), 1u) << member.name << " (" << member.value
                                              << ") is missing";
    }
  }
}

// Every value the name function names is a member, and it names every
// member by its own name.
template <typename NameOf>
void expectNamedExactly(const Library &library, NameOf nameOf) {
  SCOPED_TRACE(library.prefix + " name function");
  std::set<long> memberValues;
  for (const Status &member : library.members) {
    memberValues.insert(member.value);
    const char *name = nameOf(static_cast<int32_t>(member.value));
    EXPECT_STREQ(name, member.name.c_str());
  }
  for (int32_t value = -5000; value <= 5000; ++value)
    if (nameOf(value) && !memberValues.count(value))
      ADD_FAILURE() << "names " << value << " (" << nameOf(value) << "), which is no member";
}

TEST(StatusLists, EveryPlaceListsTheStatusesOfTheHeaders) {
  const Library module{"IT433TD_", headerEnum("driver/Cli_Vossik.h", "it433td_status")};
  const Library device{"MEGENCOM32_",
                       headerEnum("standins/device/MEGENCOM32.h", "megencom32_status")};
  const Library barcode{"P32GECODEBAR_",
                        headerEnum("standins/barcode/P32GeCodeBar.h", "p32gecodebar_status")};
  const std::vector<Library> libraries{module, device, barcode};

  // The headers' own functions put every member in words.
  expectNamedExactly(module, [](int32_t s) { return it433td_status_name(s); });
  expectNamedExactly(device, [](int32_t s) { return megencom32_status_name(s); });
  expectNamedExactly(barcode, [](int32_t s) -> const char * {
    const char *name = p32gecodebar_status_name(s);
    return std::strcmp(name, "unknown") == 0 ? nullptr : name;
  });
  for (const Status &member : module.members)
    EXPECT_NE(it433td_status_meaning(static_cast<int32_t>(member.value)), nullptr) << member.name;
  for (const Status &member : device.members)
    EXPECT_NE(megencom32_status_meaning(static_cast<int32_t>(member.value)), nullptr)
        << member.name;

  // The README's status table: | `IT433TD_QR_BUSY` | -1006 | ... |
  {
    const std::string path = "README.md";
    const std::string table = between(readSource(path), "\n## Statuses", "\n## ", path);
    const std::regex row(R"(\n\|\s*`(\w+)`\s*\|\s*(-?\d+)\s*\|)");
    expectPlaceAgrees(path, listed(table, row, 1, 2), libraries,
                      {Listing::All, Listing::None, Listing::None});
  }
  // Python: _STATUS_NAMES = { -1001: "IT433TD_BAD_ARGUMENT", ... }
  {
    const std::string path = "bindings/python/it433td/__init__.py";
    const std::string table = between(readSource(path), "_STATUS_NAMES = {", "}", path);
    const std::regex entry(R"re((-?\d+)\s*:\s*"(\w+)")re");
    expectPlaceAgrees(path, listed(table, entry, 2, 1), libraries,
                      {Listing::All, Listing::All, Listing::All});
  }
  // C#: case -1001: return "IT433TD_BAD_ARGUMENT";
  {
    const std::string path = "bindings/csharp/Vossik.cs";
    const std::string table =
        withoutComments(between(readSource(path), "string NameOf(int status)", "default:", path));
    const std::regex entry(R"re(case\s+(-?\d+)\s*:\s*return\s+"(\w+)")re");
    expectPlaceAgrees(path, listed(table, entry, 2, 1), libraries,
                      {Listing::All, Listing::All, Listing::None});
  }
  // Pascal: IT433TD_BAD_ARGUMENT = -1001; (and the device statuses the
  // sample reads)
  {
    const std::string path = "bindings/pascal/Vossik.pas";
    const std::string constants = between(readSource(path), "\nconst", "\ntype", path);
    const std::regex entry(R"(\b((IT433TD|MEGENCOM32|P32GECODEBAR)_\w+)\s*=\s*(-?\d+)\s*;)");
    expectPlaceAgrees(path, listed(constants, entry, 1, 3), libraries,
                      {Listing::All, Listing::Some, Listing::None});
  }
}

}  // namespace
