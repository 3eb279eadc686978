// Whole-or-nothing files: the bytes go to a temporary file beside the
// target, and a rename puts them in place. Built on file_system.h.
#ifndef P32GECODEBAR_STAGED_FILE_H
#define P32GECODEBAR_STAGED_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace p32gecodebar {

// A file written under a temporary name in the target's folder. commit()
// renames it onto the target; otherwise the destructor removes it.
class StagedFile {
 public:
  explicit StagedFile(std::string target) : target_(std::move(target)) {}
  ~StagedFile() {
    discard();
    forgetPrevious();
  }
  StagedFile(const StagedFile &) = delete;
  StagedFile &operator=(const StagedFile &) = delete;

  // Creates the temporary file and writes and flushes all of `bytes`.
  // Returns P32GECODEBAR_OK or P32GECODEBAR_WRITE_FAILED (nothing left behind).
  int32_t write(const std::vector<uint8_t> &bytes);
  // Renames the temporary file onto the target (atomic replacement). With
  // keepPrevious, a file already at the target is first kept under a
  // temporary name (a hard link; moved aside where the file system has no
  // links), so that rollback() can put it back. The kept name is removed by
  // the destructor. On failure the target is as it was.
  int32_t commit(bool keepPrevious = false);
  // Undoes a commit(true) that succeeded: the kept file goes back to the
  // target, or, if no file stood there, the committed file is removed.
  void rollback();
  // Removes the temporary file, if any.
  void discard();

  const std::string &target() const { return target_; }

 private:
  // Keeps the file now at the target under previous_ (none: previous_ empty).
  int32_t keepPrevious();
  // Renames the kept file back onto the target.
  void restorePrevious();
  // Removes the kept name, if any (the file stays at the target).
  void forgetPrevious();

  std::string target_;
  std::string temporary_;
  std::string previous_;         // the earlier target file's kept name
  bool previousMoved_ = false;   // moved aside: the target is absent meanwhile
  bool committed_ = false;
};

// Reads a whole file of at most maxBytes. Returns P32GECODEBAR_OK,
// P32GECODEBAR_READ_FAILED or P32GECODEBAR_BITMAP_TOO_LARGE.
int32_t readWholeFile(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out);

}  // namespace p32gecodebar

#endif
