// Opening, configuring, writing, reading and closing a port with the Win32
// communications API.
#include "comm_port.h"

#include <ctype.h>

#include <algorithm>

#include "MEGENCOM32.h"

namespace megencom32_win32 {
namespace {

// The largest write handed to a device other than a serial port at once.
constexpr DWORD kWritePiece = 4096;

int32_t open_failure(DWORD error) {
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

int32_t io_failure(DWORD error) {
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

BYTE parity_code(int32_t parity) {
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
int32_t apply_line_settings(HANDLE handle, const LineSettings &s) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return MEGENCOM32_IO_ERROR;
  dcb.BaudRate = static_cast<DWORD>(s.speed);
  dcb.ByteSize = static_cast<BYTE>(s.data_bits);
  dcb.Parity = parity_code(s.parity);
  dcb.fParity = s.parity != 'N';
  dcb.StopBits = s.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
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
int32_t keep_line_settings(HANDLE handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return MEGENCOM32_IO_ERROR;
  dcb.fBinary = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  return SetCommState(handle, &dcb) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

bool is_comm_device(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_CHAR) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  return GetCommState(handle, &dcb) != 0;
}

// Opens without sharing: a second opener, in this process or another, is
// refused while we hold the port. Read and write when allowed, else write
// only (a capture file that may be written but not read).
HANDLE open_handle(const std::string &path, DWORD flags) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  }
  return handle;
}

ULONGLONG now_ms() { return GetTickCount64(); }

// What is left of a wait that ends at `deadline` (0 once it has passed).
DWORD ms_left(ULONGLONG deadline) {
  const ULONGLONG now = now_ms();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// One overlapped read or write, waited for at most `wait_ms` on `event` (a
// manual-reset event; each operation resets it as it starts). When the wait
// runs out the operation is cancelled and its end awaited, so `done` holds
// what the system counts as moved; the answer is then TIMEOUT. OK when the
// operation ended by itself, also short (a communications device ends it on
// its own timeout).
int32_t overlapped_io(HANDLE handle, HANDLE event, bool writing, void *buffer, DWORD count,
                      DWORD wait_ms, DWORD &done) {
  done = 0;
  OVERLAPPED op{};
  op.hEvent = event;
  const BOOL finished = writing ? WriteFile(handle, buffer, count, nullptr, &op)
                                : ReadFile(handle, buffer, count, nullptr, &op);
  const DWORD start_error = finished ? NO_ERROR : GetLastError();
  if (!finished && start_error != ERROR_IO_PENDING) return io_failure(start_error);
  bool cancelled = false;
  if (!finished && WaitForSingleObject(event, wait_ms) != WAIT_OBJECT_0)
    cancelled = CancelIoEx(handle, &op) != 0;  // fails only when it has just ended
  // Waits for the operation, cancelled or not, to end (it uses `op` and the
  // buffer until then); sets `done` also on failure.
  if (GetOverlappedResult(handle, &op, &done, TRUE)) return MEGENCOM32_OK;
  const DWORD error = GetLastError();
  if (error == ERROR_OPERATION_ABORTED && cancelled) return MEGENCOM32_TIMEOUT;
  if (error == ERROR_MORE_DATA) return MEGENCOM32_OK;  // a message pipe's message goes on
  return io_failure(error);
}

// An event for overlapped_io, closed when the call ends.
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
int32_t write_synchronous(HANDLE handle, const char *bytes, DWORD count, DWORD &written) {
  while (written < count) {
    DWORD done = 0;
    if (!WriteFile(handle, bytes + written, count - written, &done, nullptr)) {
      written += done;
      return io_failure(GetLastError());
    }
    written += done;
    if (done == 0) break;  // a file that takes nothing will not take more
  }
  return written == count ? MEGENCOM32_OK : MEGENCOM32_TIMEOUT;
}

}  // namespace

std::string device_path(const std::string &name) {
  bool com = name.size() > 3 && toupper(static_cast<unsigned char>(name[0])) == 'C' &&
             toupper(static_cast<unsigned char>(name[1])) == 'O' &&
             toupper(static_cast<unsigned char>(name[2])) == 'M' &&
             std::all_of(name.begin() + 3, name.end(),
                         [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; });
  return com ? "\\\\.\\" + name : name;
}

int32_t open_port(const std::string &name, const LineSettings &settings, CommPort &port) {
  if (name.empty()) return MEGENCOM32_NO_SUCH_PORT;
  if (settings.given() && megencom32::check_line_values(settings) != MEGENCOM32_OK)
    return MEGENCOM32_BAD_SETTINGS;
  const std::string path = device_path(name);

  // Devices are opened for overlapped I/O, so that every wait is bounded by
  // a timeout; a capture file turns out to be a disk file only once open,
  // and is then opened again for plain synchronous writes.
  HANDLE handle = open_handle(path, FILE_FLAG_OVERLAPPED);
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
    CloseHandle(handle);
    handle = open_handle(path, 0);
  }
  if (handle == INVALID_HANDLE_VALUE) return open_failure(GetLastError());

  int32_t status = MEGENCOM32_OK;
  DeviceKind kind = DeviceKind::OtherDevice;
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    // A capture file is appended to, never truncated, so a job's earlier
    // output survives a close and reopen.
    kind = DeviceKind::DiskFile;
    if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
      status = MEGENCOM32_IO_ERROR;
  } else if (is_comm_device(handle)) {
    kind = DeviceKind::Comm;
    status = settings.given() ? apply_line_settings(handle, settings) : keep_line_settings(handle);
  }
  port.handle = handle;
  port.kind = kind;
  if (status == MEGENCOM32_OK) status = apply_timeouts(port);
  if (status == MEGENCOM32_OK && kind == DeviceKind::Comm && !PurgeComm(handle, PURGE_RXCLEAR))
    status = MEGENCOM32_IO_ERROR;
  if (status != MEGENCOM32_OK) {
    CloseHandle(handle);
    port.handle = INVALID_HANDLE_VALUE;
  }
  return status;
}

int32_t apply_timeouts(const CommPort &port) {
  if (port.kind != DeviceKind::Comm) return MEGENCOM32_OK;
  // Reads: wait at most the read timeout for the first byte, then return what
  // is there. Writes: the whole call within the write timeout.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = static_cast<DWORD>(port.read_timeout_ms);
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = static_cast<DWORD>(port.write_timeout_ms);
  return SetCommTimeouts(port.handle, &t) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

int32_t close_port(CommPort &port) {
  if (port.handle == INVALID_HANDLE_VALUE) return MEGENCOM32_NOT_OPEN;
  int32_t status = MEGENCOM32_OK;
  if (port.kind == DeviceKind::Comm &&
      wait_output_drained(port, port.write_timeout_ms) == MEGENCOM32_TIMEOUT) {
    // What the line would not take in time is thrown away, so closing
    // cannot block.
    PurgeComm(port.handle, PURGE_TXABORT | PURGE_TXCLEAR);
    status = MEGENCOM32_TIMEOUT;
  }
  CloseHandle(port.handle);
  port.handle = INVALID_HANDLE_VALUE;
  return status;
}

int32_t write_bytes(const CommPort &port, const void *bytes, DWORD count, DWORD &written) {
  written = 0;
  const char *next = static_cast<const char *>(bytes);
  if (port.kind == DeviceKind::DiskFile) return write_synchronous(port.handle, next, count, written);
  if (count == 0) return MEGENCOM32_OK;
  IoEvent event;
  if (event.handle == nullptr) return MEGENCOM32_IO_ERROR;
  // One deadline for the whole call, however many pieces it takes.
  const ULONGLONG deadline = now_ms() + static_cast<ULONGLONG>(port.write_timeout_ms);
  for (;;) {
    // A communications device counts what it sent when its own timeout ends
    // a write: the whole call is one write. Other devices get pieces: a
    // cancelled write to a pipe counts 0 even when the far end had taken
    // part of it, so the count can be short by at most one piece.
    const DWORD piece =
        port.kind == DeviceKind::Comm ? count - written : std::min(count - written, kWritePiece);
    DWORD done = 0;
    // WriteFile only reads the buffer; overlapped_io serves reads as well.
    int32_t status = overlapped_io(port.handle, event.handle, true,
                                   const_cast<char *>(next + written), piece, ms_left(deadline),
                                   done);
    written += done;
    if (status != MEGENCOM32_OK) return status;
    if (written == count) return MEGENCOM32_OK;
    // A communications device ends a write early only when its write
    // timeout ran out; anything else that takes nothing will not take more.
    if (done == 0 || port.kind == DeviceKind::Comm || ms_left(deadline) == 0)
      return MEGENCOM32_TIMEOUT;
  }
}

int32_t read_bytes(const CommPort &port, void *buffer, DWORD capacity, DWORD &got) {
  got = 0;
  if (port.kind == DeviceKind::DiskFile) return MEGENCOM32_TIMEOUT;  // a capture file never answers
  if (capacity == 0) return MEGENCOM32_OK;
  IoEvent event;
  if (event.handle == nullptr) return MEGENCOM32_IO_ERROR;
  int32_t status = overlapped_io(port.handle, event.handle, false, buffer, capacity,
                                 static_cast<DWORD>(port.read_timeout_ms), got);
  if (status != MEGENCOM32_OK) return status;
  return got == 0 ? MEGENCOM32_TIMEOUT : MEGENCOM32_OK;
}

int32_t purge(const CommPort &port, bool output_too) {
  if (port.kind != DeviceKind::Comm) return MEGENCOM32_OK;
  DWORD what = PURGE_RXABORT | PURGE_RXCLEAR;
  if (output_too) what |= PURGE_TXABORT | PURGE_TXCLEAR;
  return PurgeComm(port.handle, what) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
}

int32_t wait_output_drained(const CommPort &port, int32_t timeout_ms) {
  if (port.kind != DeviceKind::Comm) return MEGENCOM32_OK;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout_ms, 0));
  for (;;) {
    DWORD errors = 0;
    COMSTAT state{};
    if (!ClearCommError(port.handle, &errors, &state)) return io_failure(GetLastError());
    if (state.cbOutQue == 0) return MEGENCOM32_OK;
    if (GetTickCount64() >= deadline) return MEGENCOM32_TIMEOUT;
    Sleep(10);
  }
}

}  // namespace megencom32_win32
