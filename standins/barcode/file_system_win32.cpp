// The barcode library's staged-file operations (file_system.h) on Windows:
// files written with CreateFileA and put in place with MoveFileExA, which
// replaces an existing target in one step; a replaced file is kept as a
// hard link (CreateHardLinkA) until the call succeeds.
#include <windows.h>

#include "file_system.h"

namespace p32gecodebar {
namespace filesystem {
namespace {

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

HANDLE handleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

unsigned long processId() { return GetCurrentProcessId(); }

const char kFolderSeparators[] = "\\/:";  // "C:qrCode.prn" is in drive C:'s folder

CreateResult createNewFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  // CREATE_NEW: never write into a file someone else made.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_EXISTS ? CreateResult::NameTaken : CreateResult::NotCreated;
  // Flushed before the move, so the target never names bytes still in memory.
  // Closed before returning: an open file (not shared) could not be deleted.
  const bool written = writeAll(file, bytes.data(), bytes.size()) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file) != 0;
  return written && closed ? CreateResult::Written : CreateResult::WriteFailed;
}

MoveResult moveFile(const std::string &from, const std::string &to, bool replaceExisting) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags)) return MoveResult::Moved;
  return GetLastError() == ERROR_FILE_NOT_FOUND ? MoveResult::SourceMissing : MoveResult::Failed;
}

LinkResult hardLink(const std::string &existing, const std::string &link) {
  if (CreateHardLinkA(link.c_str(), existing.c_str(), nullptr)) return LinkResult::Linked;
  return GetLastError() == ERROR_ALREADY_EXISTS ? LinkResult::NameTaken : LinkResult::Failed;
}

void removeFile(const std::string &path) { DeleteFileA(path.c_str()); }

bool nonFolderExists(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

RegularFile::~RegularFile() {
  if (handleOf(handle_) != INVALID_HANDLE_VALUE) CloseHandle(handleOf(handle_));
}

bool RegularFile::open(const std::string &path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  // A disk file only: no pipe, console or device.
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

long long RegularFile::read(uint8_t *buffer, size_t count) {
  const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!ReadFile(handleOf(handle_), buffer, chunk, &got, nullptr)) return -1;
  return got;
}

}  // namespace filesystem
}  // namespace p32gecodebar
