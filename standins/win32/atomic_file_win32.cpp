// Whole-or-nothing files on Windows: the barcode library's staged files
// (atomic_file.h) written with CreateFileA and put in place with
// MoveFileExA, which replaces an existing target in one step; a replaced
// file is kept as a hard link (CreateHardLinkA) until the call succeeds.
#include <windows.h>

#include <stdio.h>

#include <atomic>

#include "P32GeCodeBar.h"
#include "atomic_file.h"

namespace p32gecodebar {
namespace {

// A name no other writer picks: the process, a counter and the clock.
std::string temporaryName(const std::string &target) {
  static std::atomic<unsigned> counter{0};
  char suffix[80];
  snprintf(suffix, sizeof suffix, ".tmp-%lu-%u-%llx", GetCurrentProcessId(),
           counter.fetch_add(1), static_cast<unsigned long long>(GetTickCount64()));
  return target + suffix;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { close(); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool close() {
    if (!valid()) return true;
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

bool writeAll(HANDLE file, const uint8_t *bytes, size_t count) {
  while (count > 0) {
    const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD done = 0;
    if (!WriteFile(file, bytes, chunk, &done, nullptr) || done == 0) return false;
    bytes += done;
    count -= done;
  }
  return true;
}

}  // namespace

int32_t StagedFile::write(const std::vector<uint8_t> &bytes) {
  discard();
  HANDLE raw = INVALID_HANDLE_VALUE;
  // CREATE_NEW: never write into a file someone else made; retry on a clash.
  for (int attempt = 0; attempt < 16 && raw == INVALID_HANDLE_VALUE; ++attempt) {
    temporary_ = temporaryName(target_);
    raw = CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (raw == INVALID_HANDLE_VALUE) {
    temporary_.clear();
    return P32GECODEBAR_WRITE_FAILED;
  }
  Handle file(raw);
  // Flushed before the move, so the target never names bytes still in memory.
  const bool written = writeAll(file.get(), bytes.data(), bytes.size()) &&
                       FlushFileBuffers(file.get()) && file.close();
  if (!written) {
    discard();
    return P32GECODEBAR_WRITE_FAILED;
  }
  return P32GECODEBAR_OK;
}

int32_t StagedFile::keepPrevious() {
  // Nothing there, or a folder (the move onto it fails): nothing to keep.
  const DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return P32GECODEBAR_OK;
  for (int attempt = 0; attempt < 16; ++attempt) {
    previous_ = temporaryName(target_);
    // A second name for the same file: the target stays in place throughout.
    if (CreateHardLinkA(previous_.c_str(), target_.c_str(), nullptr)) return P32GECODEBAR_OK;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  // No hard links on this volume (FAT): move the file aside instead.
  previous_ = temporaryName(target_);
  if (MoveFileExA(target_.c_str(), previous_.c_str(), MOVEFILE_WRITE_THROUGH)) {
    previousMoved_ = true;
    return P32GECODEBAR_OK;
  }
  const DWORD error = GetLastError();
  previous_.clear();
  return error == ERROR_FILE_NOT_FOUND ? P32GECODEBAR_OK : P32GECODEBAR_WRITE_FAILED;
}

int32_t StagedFile::commit(bool keepPrevious) {
  if (temporary_.empty()) return P32GECODEBAR_WRITE_FAILED;
  if (keepPrevious && this->keepPrevious() != P32GECODEBAR_OK) {
    discard();
    return P32GECODEBAR_WRITE_FAILED;
  }
  if (!MoveFileExA(temporary_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
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
    DeleteFileA(target_.c_str());
  else
    restorePrevious();
}

void StagedFile::restorePrevious() {
  // Should the move back fail, the earlier file stays under its kept name
  // rather than being deleted with it.
  MoveFileExA(previous_.c_str(), target_.c_str(),
              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::forgetPrevious() {
  if (previous_.empty()) return;
  DeleteFileA(previous_.c_str());
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::discard() {
  if (temporary_.empty()) return;
  DeleteFileA(temporary_.c_str());
  temporary_.clear();
}

int32_t readWholeFile(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK) return P32GECODEBAR_READ_FAILED;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return P32GECODEBAR_READ_FAILED;
  if (static_cast<uint64_t>(size.QuadPart) > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;

  // Read to the end rather than trusting the size: the file may change.
  out.clear();
  uint8_t chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return P32GECODEBAR_READ_FAILED;
    if (got == 0) break;
    if (out.size() + got > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;
    out.insert(out.end(), chunk, chunk + got);
  }
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
