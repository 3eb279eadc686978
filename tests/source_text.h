// The project's own files read as text, for the checks that hold one list
// against the places that must repeat it because they cannot include a C
// header (the README, the bindings): bindings.status_lists and
// module.export_list. IT433TD_SOURCE is the source tree.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace it433td::test {

inline std::string readSource(const std::string &path) {
  std::ifstream in(std::string(IT433TD_SOURCE) + "/" + path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text from `begin` (which must be there) up to the next `end`.
inline std::string between(const std::string &text, const std::string &begin,
                           const std::string &end, const std::string &path) {
  const std::size_t from = text.find(begin);
  if (from == std::string::npos) {
    ADD_FAILURE() << path << " no longer holds \"" << begin << "\"";
    return {};
  }
  const std::size_t to = text.find(end, from + begin.size());
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

inline std::string withoutComments(const std::string &code) {
  static const std::regex comment(R"(/\*[\s\S]*?\*/|//[^\n]*)");
  return std::regex_replace(code, comment, " ");
}

}  // namespace it433td::test
