// fuzz_port_names.cpp - POSIX port-name resolution on arbitrary names and
// ports folders.
//
// An input is: one byte of mode, the port name, then, separated by 0x00 bytes,
// a suffix for the ports folder's path and up to eight entry names. The
// entries are made (as symlinks to /dev/null) in a folder of our own, F; the
// folder given to the resolver is F followed by the suffix (often empty; it
// may climb out with "/.." and land anywhere). Mode, bits 0-1: the folder
// given directly, through IT433TD_PORTS, none (null), or IT433TD_PORTS empty.
//
// The property: a name never resolves outside the mapped target or the fixed
// device names. A result is
//   - the folder's path, "/", and an entry that exists there (in F: one we
//     made), whose name is the port name ignoring ASCII case (one path
//     component, never "." or ".."), and it must be that when F itself
//     holds such an entry;
//   - or, only for a name holding '/', the name itself;
//   - or, only for COMn and LPTn (ignoring case, n >= 1), /dev/ttyS(n-1) or
//     /dev/lp(n-1); with up to six digits they must resolve so;
// and a name resolves to nothing only when none of these applies. The
// fixed device names do not resolve at all when IT433TD_PORTS names a
// folder that cannot be listed (mode 1 with such a folder).
#include "port_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The folder F, made once per process under /dev/shm (or the temporary
// folder) and removed at exit.
class OwnFolder {
 public:
  OwnFolder() {
    const char *tmp = std::getenv("TMPDIR");
    for (std::string base : {std::string("/dev/shm"), std::string(tmp && *tmp ? tmp : "/tmp")}) {
      std::string pattern = base + "/it433td-fuzz-ports-XXXXXX";
      if (::mkdtemp(pattern.data())) {
        path_ = pattern;
        return;
      }
    }
    std::perror("mkdtemp");
    std::abort();
  }
  ~OwnFolder() { ::rmdir(path_.c_str()); }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

const std::string &ownFolder() {
  static const OwnFolder folder;
  return folder.path();
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// "COM12" with prefix "com": the device number's digits, or "" for a name of
// another form.
std::string_view digitsAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || !sameIgnoringCase(name.substr(0, prefix.size()), prefix))
    return {};
  const std::string_view digits = name.substr(prefix.size());
  return digits.find_first_not_of("0123456789") == std::string_view::npos ? digits : std::string_view{};
}

[[noreturn]] void fail(const char *what, std::string_view name, const std::string *folder,
                       const std::optional<std::string> &result) {
  std::fprintf(stderr, "%s: name \"%.*s\", folder %s, resolved to %s\n", what,
               static_cast<int>(name.size()), name.data(), folder ? folder->c_str() : "(none)",
               result ? result->c_str() : "nothing");
  std::abort();
}

// Whether `result` is one of the fixed device names `name` stands for.
// nullopt: the name is no COMn or LPTn. Six digits or fewer must resolve.
std::optional<bool> checkDevice(std::string_view name, const std::optional<std::string> &result,
                                bool &mustResolve) {
  for (const auto &[prefix, device] : {std::pair<std::string_view, std::string_view>{"com", "/dev/ttyS"},
                                       std::pair<std::string_view, std::string_view>{"lpt", "/dev/lp"}}) {
    std::string_view digits = digitsAfter(name, prefix);
    if (digits.empty()) continue;
    mustResolve = digits.size() <= 6;
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    if (digits == "0") {
      mustResolve = false;
      return false;  // COM0 names no device
    }
    if (digits.size() > 18) return false;
    const unsigned long long n = std::stoull(std::string(digits));
    return result && *result == std::string(device) + std::to_string(n - 1);
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] & 3;
  std::vector<std::string_view> fields;
  std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  while (fields.size() < 10) {
    const std::size_t end = rest.find('\0');
    fields.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  const std::string_view name = fields[0];
  const std::string_view suffix = fields.size() > 1 ? fields[1] : std::string_view{};

  // The entries of F: names the file system takes, each made once.
  const std::string &own = ownFolder();
  std::vector<std::string> made;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    const std::string entry(fields[i]);
    if (entry.empty() || entry.find('/') != std::string::npos || entry == "." || entry == "..")
      continue;
    if (::symlink("/dev/null", (own + "/" + entry).c_str()) == 0) made.push_back(entry);
  }

  const std::string folder = own + std::string(suffix);
  std::optional<std::string> result;
  const std::string *given = nullptr;  // the folder the resolver was given
  switch (mode) {
    case 0:
      given = &folder;
      result = it433td::resolvePortIn(name, folder.c_str());
      break;
    case 1:
      given = &folder;
      ::setenv(it433td::kPortsFolderVariable, folder.c_str(), 1);
      result = it433td::resolvePort(name);
      break;
    case 2: result = it433td::resolvePortIn(name, nullptr); break;
    case 3:
      ::setenv(it433td::kPortsFolderVariable, "", 1);
      result = it433td::resolvePort(name);
      break;
  }

  // Checked while the entries still exist: in F, one of those made; in a
  // folder elsewhere, one that exists (under /proc entries come and go, the
  // listing's own descriptor among them: there the name is enough).
  bool mapped = false;
  if (result && given && result->size() > given->size() + 1 &&
      result->compare(0, given->size() + 1, *given + "/") == 0) {
    const std::string entry = result->substr(given->size() + 1);
    if (entry.find('/') == std::string::npos && entry != "." && entry != ".." &&
        sameIgnoringCase(entry, name)) {
      struct stat info {};
      char *real = ::realpath(given->c_str(), nullptr);
      const bool inProc = real && std::string_view(real).substr(0, 6) == "/proc/";
      std::free(real);
      mapped = suffix.empty() ? std::find(made.begin(), made.end(), entry) != made.end()
                              : inProc || ::lstat(result->c_str(), &info) == 0;
    }
  }
  bool ownMatch = false;
  for (const std::string &entry : made) {
    ownMatch = ownMatch || sameIgnoringCase(entry, name);
    ::unlink((own + "/" + entry).c_str());
  }

  if (given && suffix.empty() && ownMatch && !mapped)
    fail("a name mapped in the ports folder resolved elsewhere", name, given, result);
  if (mapped) return 0;
  const bool isPath = name.find('/') != std::string_view::npos;
  if (isPath) {
    if (result != std::string(name)) fail("a path resolved to something else", name, given, result);
    return 0;
  }
  bool mustResolve = false;
  const std::optional<bool> device = checkDevice(name, result, mustResolve);
  if (mode == 1) {
    DIR *listing = ::opendir(folder.c_str());
    if (listing) ::closedir(listing);
    if (!listing && result) fail("a fixed name resolved behind a missing named folder", name, given, result);
    if (!listing) return 0;
  }
  if (device.value_or(false)) return 0;
  if (result) fail("resolved outside the mapped target and the fixed device names", name, given, result);
  if (mustResolve) fail("a COMn or LPTn name did not resolve", name, given, result);
  return 0;
}
