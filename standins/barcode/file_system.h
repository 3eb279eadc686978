// The few file operations a staged file needs, one implementation per
// system: file_system_posix.cpp and file_system_win32.cpp. Everything built
// on them (naming, retries, keeping and restoring the earlier target) is
// written once, in staged_file.cpp.
#ifndef P32GECODEBAR_FILE_SYSTEM_H
#define P32GECODEBAR_FILE_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace p32gecodebar {
namespace filesystem {

// The calling process's id, for names no other process picks.
unsigned long processId();

// The characters that end a folder's part of a path ("/" on POSIX; "\\", "/"
// and a drive's ":" on Windows).
extern const char kFolderSeparators[];

enum class CreateResult {
  Written,      // created, written, flushed to the disk and closed
  NameTaken,    // something already has that name: nothing was touched
  NotCreated,   // the file could not be created
  WriteFailed,  // created, but writing, flushing or closing failed: the
                // file stands, and the caller removes it
};
// Creates `path`, which must not exist yet, and writes all of `bytes`.
CreateResult createNewFile(const std::string &path, const std::vector<uint8_t> &bytes);

enum class MoveResult { Moved, SourceMissing, Failed };
// Renames `from` to `to`. replaceExisting: a file already at `to` is
// replaced in the same step (POSIX renames always do).
MoveResult moveFile(const std::string &from, const std::string &to, bool replaceExisting);

enum class LinkResult { Linked, NameTaken, Failed };
// Gives the file at `existing` the second name `link`.
LinkResult hardLink(const std::string &existing, const std::string &link);

// Removes the file at `path`, if any; a failure is not reported.
void removeFile(const std::string &path);

// Whether something other than a folder stands at `path` (a symbolic link
// counts as itself, not followed).
bool nonFolderExists(const std::string &path);

// A regular file open for reading; anything else is refused by open().
class RegularFile {
 public:
  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile &) = delete;
  RegularFile &operator=(const RegularFile &) = delete;

  // Opens `path` if it is a regular file, and learns its size.
  bool open(const std::string &path);
  uint64_t size() const { return size_; }
  // Reads up to `count` bytes: the number read, 0 at the end, -1 on failure.
  long long read(uint8_t *buffer, size_t count);

 private:
  intptr_t handle_ = -1;  // a file descriptor or a HANDLE; -1: none
  uint64_t size_ = 0;
};

}  // namespace filesystem
}  // namespace p32gecodebar

#endif
