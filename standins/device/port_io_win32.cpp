// The device library's system side on Windows: the Win32 communications
// API, with every device but a capture file opened for overlapped I/O.
//
// Map of this file: how Win32 errors become statuses; line settings in a
// DCB; opening (the path CreateFileA takes, unshared, read and write where
// allowed); one bounded overlapped read or write; then the functions of
// port_io.h in its order.
//
// A COM port is a communications device: it takes line settings
// (SetCommState), timeouts (SetCommTimeouts) and reports its output queue
// (ClearCommError). Other names open as the device or file they name: a
// parallel port, a printer share, a pipe, a capture file (appended to).
// Each read or write waits at most its timeout, then is cancelled: a pipe or
// printer share whose far end takes nothing cannot hold a call for ever.
#include <windows.h>

#include <ctype.h>

#include <algorithm>

#include "MEGENCOM32.h"
#include "port_io.h"

namespace megencom32 {
namespace {

// The largest write handed to a device other than a serial port at once.
constexpr DWORD kWritePiece = 4096;

int32_t openFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
      return MEGENCOM32_NO_SUCH_PORT;
    case ERROR_ACCESS_DENIED:  // what CreateFileA answers for a COM port in use
    case ERROR_SHARING_VIOLATION:
      return MEGENCOM32_BUSY;
    default:
      return MEGENCOM32_IO_ERROR;
  }
}

int32_t ioFailure(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:  // a USB-serial adapter pulled out
    case ERROR_GEN_FAILURE:
      return MEGENCOM32_UNPLUGGED;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return MEGENCOM32_HANGUP;
    default:
      return MEGENCOM32_IO_ERROR;
  }
}

BYTE parityCode(int32_t parity) {
  switch (parity) {
    case 'E': return EVENPARITY;
    case 'O': return ODDPARITY;
    case 'M': return MARKPARITY;
    case 'S': return SPACEPARITY;
    default: return NOPARITY;
  }
}

// The line settings in a DCB, raw: binary mode, no character replacement,
// no aborting writes on errors.
int32_t applyLineSettings(HANDLE handle, const LineSettings &s) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return MEGENCOM32_IO_ERROR;
  dcb.BaudRate = static_cast<DWORD>(s.speed);
  dcb.ByteSize = static_cast<BYTE>(s.dataBits);
  dcb.Parity = parityCode(s.parity);
  dcb.fParity = s.parity != 'N';
  dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutxCtsFlow = s.flow == 1;
  dcb.fRtsControl = s.flow == 1 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = s.flow == 2;
  dcb.fInX = s.flow == 2;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  if (!SetCommState(handle, &dcb)) {
    // Wine on a pseudo-terminal refuses mark or space parity when the line
    // has stick parity already (the pty drops the parity-enable flag); going
    // through no parity first lets the setting take.
    if (s.parity != 'M' && s.parity != 'S') return MEGENCOM32_BAD_SETTINGS;
    DCB plain = dcb;
    plain.Parity = NOPARITY;
    plain.fParity = FALSE;
    if (!SetCommState(handle, &plain) || !SetCommState(handle, &dcb))
      return MEGENCOM32_BAD_SETTINGS;
  }

  // A driver may take the call and drop a value (an odd speed): read back.
  // Parity is not compared: Wine reads mark and space parity back wrongly.
  DCB now{};
  now.DCBlength = sizeof now;
  if (!GetCommState(handle, &now)) return MEGENCOM32_IO_ERROR;
  if (now.BaudRate != dcb.BaudRate || now.ByteSize != dcb.ByteSize || now.StopBits != dcb.StopBits)
    return MEGENCOM32_BAD_SETTINGS;
  return MEGENCOM32_OK;
}

// Five zeros on a serial port: the line keeps its settings, and the port is
// set once more in binary mode so that no driver translates bytes.
int32_t keepLineSettings(HANDLE handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return MEGENCOM32_IO_ERROR;
  dcb.fBinary = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  return SetCommState(handle, &dcb) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

bool isCommDevice(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_CHAR) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  return GetCommState(handle, &dcb) != 0;
}

HANDLE handleOf(const Port &port) { return reinterpret_cast<HANDLE>(port.handle); }

// Opens without sharing: a second opener, in this process or another, is
// refused while we hold the port. Read and write when allowed, else write
// only (a capture file that may be written but not read); `readable` says
// which.
HANDLE openHandle(const std::string &path, DWORD flags, bool &readable) {
  readable = true;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    readable = false;
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  }
  return handle;
}

// The path CreateFileA opens for a port name: "COMn" (any case) becomes
// "\\.\COMn", which also reaches COM10 and above; every other name is used
// as it is.
std::string devicePath(const std::string &name) {
  bool com = name.size() > 3 && toupper(static_cast<unsigned char>(name[0])) == 'C' &&
             toupper(static_cast<unsigned char>(name[1])) == 'O' &&
             toupper(static_cast<unsigned char>(name[2])) == 'M' &&
             std::all_of(name.begin() + 3, name.end(),
                         [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; });
  return com ? "\\\\.\\" + name : name;
}

ULONGLONG nowMs() { return GetTickCount64(); }

// What is left of a wait that ends at `deadline` (0 once it has passed).
DWORD msLeft(ULONGLONG deadline) {
  const ULONGLONG now = nowMs();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// One overlapped read or write, waited for at most `waitMs` on `event` (a
// manual-reset event; each operation resets it as it starts). When the wait
// runs out the operation is cancelled and its end awaited, so `done` holds
// what the system counts as moved; the answer is then TIMEOUT. OK when the
// operation ended by itself, also short (a communications device ends it on
// its own timeout).
int32_t overlappedIo(HANDLE handle, HANDLE event, bool writing, void *buffer, DWORD count,
                     DWORD waitMs, DWORD &done) {
  done = 0;
  OVERLAPPED op{};
  op.hEvent = event;
  const BOOL finished = writing ? WriteFile(handle, buffer, count, nullptr, &op)
                                : ReadFile(handle, buffer, count, nullptr, &op);
  const DWORD startError = finished ? NO_ERROR : GetLastError();
  if (!finished && startError != ERROR_IO_PENDING) return ioFailure(startError);
  bool cancelled = false;
  if (!finished && WaitForSingleObject(event, waitMs) != WAIT_OBJECT_0)
    cancelled = CancelIoEx(handle, &op) != 0;  // fails only when it has just ended
  // Waits for the operation, cancelled or not, to end (it uses `op` and the
  // buffer until then); sets `done` also on failure.
  if (GetOverlappedResult(handle, &op, &done, TRUE)) return MEGENCOM32_OK;
  const DWORD error = GetLastError();
  if (error == ERROR_OPERATION_ABORTED && cancelled) return MEGENCOM32_TIMEOUT;
  if (error == ERROR_MORE_DATA) return MEGENCOM32_OK;  // a message pipe's message goes on
  return ioFailure(error);
}

// An event for overlappedIo, closed when the call ends.
struct IoEvent {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  IoEvent() = default;
  IoEvent(const IoEvent &) = delete;
  IoEvent &operator=(const IoEvent &) = delete;
  ~IoEvent() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

// A capture file: plain synchronous writes until all is written.
int32_t writeSynchronous(HANDLE handle, const char *bytes, DWORD count, DWORD &written) {
  while (written < count) {
    DWORD done = 0;
    if (!WriteFile(handle, bytes + written, count - written, &done, nullptr)) {
      written += done;
      return ioFailure(GetLastError());
    }
    written += done;
    if (done == 0) break;  // a file that takes nothing will not take more
  }
  return written == count ? MEGENCOM32_OK : MEGENCOM32_TIMEOUT;
}

}  // namespace

int32_t openDevice(const std::string &name, const LineSettings &settings, Port &port) {
  if (name.empty()) return MEGENCOM32_NO_SUCH_PORT;
  const std::string path = devicePath(name);
  // A folder is no port (CreateFileA would answer "access denied", as for a
  // port in use).
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return MEGENCOM32_NO_SUCH_PORT;

  // Devices are opened for overlapped I/O, so that every wait is bounded by
  // a timeout; a capture file turns out to be a disk file only once open,
  // and is then opened again for plain synchronous writes.
  bool readable = false;
  HANDLE handle = openHandle(path, FILE_FLAG_OVERLAPPED, readable);
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
    CloseHandle(handle);
    handle = openHandle(path, 0, readable);
  }
  if (handle == INVALID_HANDLE_VALUE) return openFailure(GetLastError());

  int32_t status = MEGENCOM32_OK;
  DeviceKind kind = DeviceKind::CharDevice;
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    // A capture file is written only, and appended to, never truncated, so
    // a job's earlier output survives a close and reopen.
    kind = DeviceKind::RegularFile;
    readable = false;
    if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
      status = MEGENCOM32_IO_ERROR;
  } else if (isCommDevice(handle)) {
    kind = DeviceKind::Terminal;
  }
  if (status == MEGENCOM32_OK && settings.given()) {
    // On a serial line the settings are set; elsewhere there is nothing to
    // set, but the values must still be ones a serial line could take.
    status = checkLineValues(settings);
    if (status == MEGENCOM32_OK && kind == DeviceKind::Terminal)
      status = applyLineSettings(handle, settings);
  } else if (status == MEGENCOM32_OK && kind == DeviceKind::Terminal) {
    status = keepLineSettings(handle);
  }
  port.handle = reinterpret_cast<intptr_t>(handle);
  port.path = path;
  port.kind = kind;
  port.readable = readable;
  if (status == MEGENCOM32_OK) status = applyTimeouts(port);
  if (status == MEGENCOM32_OK && kind == DeviceKind::Terminal && !PurgeComm(handle, PURGE_RXCLEAR))
    status = MEGENCOM32_IO_ERROR;
  if (status != MEGENCOM32_OK) {
    CloseHandle(handle);
    port.handle = kNoHandle;
  }
  return status;
}

int32_t releaseDevice(Port &port) {
  if (!port.isOpen()) return MEGENCOM32_NOT_OPEN;
  int32_t status = MEGENCOM32_OK;
  if (port.kind == DeviceKind::Terminal &&
      waitOutputDrained(port, port.writeTimeoutMs) == MEGENCOM32_TIMEOUT) {
    // What the line would not take in time is thrown away, so closing
    // cannot block.
    PurgeComm(handleOf(port), PURGE_TXABORT | PURGE_TXCLEAR);
    status = MEGENCOM32_TIMEOUT;
  }
  CloseHandle(handleOf(port));
  port.handle = kNoHandle;
  return status;
}

int32_t applyTimeouts(const Port &port) {
  if (port.kind != DeviceKind::Terminal) return MEGENCOM32_OK;
  // Reads: wait at most the read timeout for the first byte, then return what
  // is there. Writes: the whole call within the write timeout.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = static_cast<DWORD>(port.readTimeoutMs);
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = static_cast<DWORD>(port.writeTimeoutMs);
  return SetCommTimeouts(handleOf(port), &t) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

int32_t writeBytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                   int timeoutMs) {
  written = 0;
  const char *next = reinterpret_cast<const char *>(bytes);
  const DWORD total = static_cast<DWORD>(count);  // at most INT32_MAX: the entry point's count
  DWORD sent = 0;
  int32_t status = MEGENCOM32_OK;
  if (port.kind == DeviceKind::RegularFile) {
    status = writeSynchronous(handleOf(port), next, total, sent);
    written = sent;
    return status;
  }
  if (total == 0) return MEGENCOM32_OK;
  IoEvent event;
  if (event.handle == nullptr) return MEGENCOM32_IO_ERROR;
  // One deadline for the whole call, however many pieces it takes.
  const ULONGLONG deadline = nowMs() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
  for (;;) {
    // A communications device counts what it sent when its own timeout ends
    // a write: the whole call is one write. Other devices get pieces: a
    // cancelled write to a pipe counts 0 even when the far end had taken
    // part of it, so the count can be short by at most one piece.
    const DWORD piece =
        port.kind == DeviceKind::Terminal ? total - sent : std::min(total - sent, kWritePiece);
    DWORD done = 0;
    // WriteFile only reads the buffer; overlappedIo serves reads as well.
    status = overlappedIo(handleOf(port), event.handle, true, const_cast<char *>(next + sent),
                          piece, msLeft(deadline), done);
    sent += done;
    written = sent;
    if (status != MEGENCOM32_OK) return status;
    if (sent == total) return MEGENCOM32_OK;
    // A communications device ends a write early only when its write
    // timeout ran out; anything else that takes nothing will not take more.
    if (done == 0 || port.kind == DeviceKind::Terminal || msLeft(deadline) == 0)
      return MEGENCOM32_TIMEOUT;
  }
}

int32_t readBytes(const Port &port, uint8_t *buffer, size_t capacity, size_t &got,
                  int timeoutMs) {
  got = 0;
  IoEvent event;
  if (event.handle == nullptr) return MEGENCOM32_IO_ERROR;
  DWORD done = 0;
  int32_t status = overlappedIo(handleOf(port), event.handle, false, buffer,
                                static_cast<DWORD>(capacity),
                                static_cast<DWORD>(std::max(timeoutMs, 0)), done);
  got = done;
  // A COM driver may hold a read until the buffer is full (Wine does, for
  // the whole read timeout); what came before the wait ran out is a read,
  // not a timeout.
  if (got > 0 && status == MEGENCOM32_TIMEOUT) return MEGENCOM32_OK;
  if (status != MEGENCOM32_OK) return status;
  return got == 0 ? MEGENCOM32_TIMEOUT : MEGENCOM32_OK;
}

void discardInput(const Port &port) {
  if (port.kind == DeviceKind::Terminal) PurgeComm(handleOf(port), PURGE_RXABORT | PURGE_RXCLEAR);
}

int32_t discardInputAndOutput(const Port &port) {
  if (port.kind != DeviceKind::Terminal) return MEGENCOM32_OK;
  const DWORD what = PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR;
  return PurgeComm(handleOf(port), what) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

int32_t waitOutputDrained(const Port &port, int timeoutMs) {
  if (port.kind != DeviceKind::Terminal) return MEGENCOM32_OK;
  const ULONGLONG deadline = nowMs() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
  for (;;) {
    DWORD errors = 0;
    COMSTAT state{};
    if (!ClearCommError(handleOf(port), &errors, &state)) return ioFailure(GetLastError());
    if (state.cbOutQue == 0) return MEGENCOM32_OK;
    if (nowMs() >= deadline) return MEGENCOM32_TIMEOUT;
    Sleep(10);
  }
}

std::FILE *openLogFile(const char *path) { return std::fopen(path, "a"); }

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

}  // namespace megencom32
