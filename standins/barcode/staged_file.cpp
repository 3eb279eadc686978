#include "staged_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "P32GeCodeBar.h"
#include "file_system.h"

namespace p32gecodebar {
namespace fs = filesystem;
namespace {

// A name no other writer picks: the process, a counter and the clock. It
// stands in the target's folder, so that the rename onto the target stays
// one atomic step, but it does not grow with the target's name: a target
// name near the file-name limit (255 bytes) still gets a temporary file.
std::string temporaryName(const std::string &target) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char name[80];
  std::snprintf(name, sizeof name, ".P32GeCodeBar-%lu-%u-%llx.tmp", fs::processId(),
                counter.fetch_add(1), static_cast<unsigned long long>(ticks));
  const size_t separator = target.find_last_of(fs::kFolderSeparators);
  return (separator == std::string::npos ? std::string() : target.substr(0, separator + 1)) + name;
}

}  // namespace

int32_t StagedFile::write(const std::vector<uint8_t> &bytes) {
  discard();
  // Created exclusively: never write into a file someone else made; retry
  // on the rare clash. The bytes are flushed before the rename, so the
  // target never names a file whose bytes are still only in memory.
  fs::CreateResult result = fs::CreateResult::NameTaken;
  for (int attempt = 0; attempt < 16 && result == fs::CreateResult::NameTaken; ++attempt) {
    temporary_ = temporaryName(target_);
    result = fs::createNewFile(temporary_, bytes);
  }
  if (result == fs::CreateResult::Written) return P32GECODEBAR_OK;
  if (result == fs::CreateResult::WriteFailed)
    discard();  // no stray temporary file is left behind
  else
    temporary_.clear();
  return P32GECODEBAR_WRITE_FAILED;
}

int32_t StagedFile::keepPrevious() {
  // Nothing there, or a folder (the rename onto it fails): nothing to keep.
  if (!fs::nonFolderExists(target_)) return P32GECODEBAR_OK;
  for (int attempt = 0; attempt < 16; ++attempt) {
    previous_ = temporaryName(target_);
    // A second name for the same file: the target stays in place throughout.
    const fs::LinkResult linked = fs::hardLink(target_, previous_);
    if (linked == fs::LinkResult::Linked) return P32GECODEBAR_OK;
    if (linked != fs::LinkResult::NameTaken) break;
  }
  // No hard links here (FAT, or not allowed for this file): move it aside instead.
  previous_ = temporaryName(target_);
  const fs::MoveResult moved = fs::moveFile(target_, previous_, false);
  if (moved == fs::MoveResult::Moved) {
    previousMoved_ = true;
    return P32GECODEBAR_OK;
  }
  previous_.clear();
  // Gone meanwhile: nothing to keep.
  return moved == fs::MoveResult::SourceMissing ? P32GECODEBAR_OK : P32GECODEBAR_WRITE_FAILED;
}

int32_t StagedFile::commit(bool keepPrevious) {
  if (temporary_.empty()) return P32GECODEBAR_WRITE_FAILED;
  if (keepPrevious && this->keepPrevious() != P32GECODEBAR_OK) {
    discard();
    return P32GECODEBAR_WRITE_FAILED;
  }
  if (fs::moveFile(temporary_, target_, true) != fs::MoveResult::Moved) {
    discard();
    if (previousMoved_)
      restorePrevious();
    else
      forgetPrevious();  // the target still is the earlier file
    return P32GECODEBAR_WRITE_FAILED;
  }
  temporary_.clear();
  committed_ = true;
  return P32GECODEBAR_OK;
}

void StagedFile::rollback() {
  if (!committed_) return;
  committed_ = false;
  if (previous_.empty())
    fs::removeFile(target_);
  else
    restorePrevious();
}

void StagedFile::restorePrevious() {
  // The kept name goes back over the target: the very file that stood there
  // (same inode, same bytes). Should the rename back fail, the earlier file
  // stays under its kept name rather than being removed with it.
  fs::moveFile(previous_, target_, true);
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::forgetPrevious() {
  if (previous_.empty()) return;
  fs::removeFile(previous_);
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::discard() {
  if (temporary_.empty()) return;
  fs::removeFile(temporary_);
  temporary_.clear();
}

int32_t readWholeFile(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out) {
  // Only a regular file is opened: a FIFO, terminal, device or folder is
  // refused at once, without waiting for a writer.
  fs::RegularFile file;
  if (!file.open(path)) return P32GECODEBAR_READ_FAILED;
  if (file.size() > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;

  // Read to the end rather than trusting the size: the file may change.
  out.clear();
  uint8_t chunk[65536];
  for (;;) {
    const long long got = file.read(chunk, sizeof chunk);
    if (got < 0) return P32GECODEBAR_READ_FAILED;
    if (got == 0) break;
    if (out.size() + static_cast<size_t>(got) > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;
    out.insert(out.end(), chunk, chunk + got);
  }
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
