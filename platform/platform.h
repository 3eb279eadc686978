// The platform seam: everything the driver asks of the operating system.
//
// One table of functions, filled by field name by the build's platform file
// (platform_posix.cpp or platform_win32.cpp). The driver reaches the system
// only through platform(); a test may replace single entries (record the
// pause asked for, fail a library load) and put the native table back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace it433td {

// A loaded library, as the system's loader answers it (a dlopen handle on
// POSIX, an HMODULE on Windows), kept opaque so that the seam needs neither
// the module's public header nor <windows.h>.
using LibraryHandle = void *;

// A cross-process lock on a file: taken; held by someone else for the whole
// wait; or not to be had at all (the file cannot be opened or made).
enum class FileLock { Taken, Busy, Unavailable };

// The printer file just rendered, as the module finds it at its name.
enum class PrinterFile {
  Opened,   // open: a regular file of this process's user, reached through no link
  Missing,  // nothing is there: nothing was rendered
  Refused,  // something else is there (a link, a FIFO, another user's file)
};

// How the raw copy of a printer file to a port went.
enum class RawCopy {
  Failed,    // not started, or it could not open the port (or did not say in
             // time): nothing reached the port
  Started,   // started; whether it reaches the port shows only at its end (cmd.exe)
  Reported,  // it has the printer file and the port open and is writing
};

// How a started copy stood when its window was over.
enum class CopyEnd {
  WroteAll,      // it wrote every byte
  Failed,         // a write failed or came up short, or the copy died
  StillRunning,  // still writing (or it cannot be told): it overlaps the reopening
};

struct Platform {
  // Loads a library by file name through the platform's normal search;
  // null when it will not load.
  LibraryHandle (*loadLibrary)(const char *fileName);
  // The address exported under `name`, or null.
  void *(*findEntry)(LibraryHandle library, const char *name);
  // Blocks the calling thread for at least `milliseconds`.
  void (*sleepMs)(uint32_t milliseconds);
  // The full path of the running host executable ("" if unknown).
  std::string (*hostExecutablePath)();
  // The value of an environment variable, read afresh at each call ("" when
  // it is unset).
  std::string (*environmentValue)(const char *name);
  // Milliseconds of a clock that never goes back, for measuring waits.
  uint64_t (*monotonicMs)();
  // Removes a file; true when it is gone afterwards.
  bool (*removeFile)(const std::string &path);
  // Whether a port name may reach the raw copy (Windows: it goes into a
  // command line for cmd.exe).
  bool (*portNameSafeForCopy)(std::string_view port);
  // Takes an exclusive lock on `path` (made if missing) that other processes
  // see, waiting at most `waitMs` for its holder; the system drops it when
  // the holding process dies. `*held` then identifies it for unlockFile. No
  // child process inherits it.
  FileLock (*lockFile)(const std::string &path, uint32_t waitMs, intptr_t *held);
  void (*unlockFile)(intptr_t held);
  // Makes a new, empty folder in `parent` (a path ending in a separator),
  // named `prefix` and a few characters of chance, that only this process's
  // user may enter, add to or rename in: the barcode library renders into
  // it, so no other user can put a file there, nor swap one in or put back
  // an earlier one before the module opens it. `*path` is its path with a
  // trailing separator; `*folder` identifies it. False when none can be made.
  bool (*makePrivateFolder)(const std::string &parent, const std::string &prefix, std::string *path,
                            intptr_t *folder);
  // Moves the file `name` out of the private folder to `destination`,
  // replacing what is there; false when it could not.
  bool (*moveOutOfPrivateFolder)(intptr_t folder, const std::string &name,
                                 const std::string &destination);
  // Lets the private folder go, and removes it if it is empty.
  void (*removePrivateFolder)(intptr_t folder);
  // Opens the printer file `name` the barcode library has just written in
  // the private folder, so that the copy sends that file and no other.
  // `*file` then identifies it for startRawCopy and closePrinterFile.
  PrinterFile (*openPrinterFile)(intptr_t folder, const std::string &name, intptr_t *file);
  void (*closePrinterFile)(intptr_t file);
  // Starts the raw copy of the opened printer file (at `printerPath`) to the
  // port: detached and hidden. Where the copy can tell whether it opened the
  // port, this waits at most `reportWaitMs` for it to say so. Unless the
  // answer is `Failed`, `*copy` identifies the copy for finishRawCopy.
  RawCopy (*startRawCopy)(const std::string &printerPath, intptr_t printerFile,
                          const std::string &port, uint32_t reportWaitMs, intptr_t *copy);
  // How the copy stands once its window is over, asked without waiting; gives
  // back what startRawCopy kept for it. The copy itself is never stopped.
  CopyEnd (*finishRawCopy)(intptr_t copy);
  // The separator of path components ('/' or '\\').
  char pathSeparator;
};

// The table in force.
Platform &platform();
// The table of the system the module was built for.
const Platform &nativePlatform();

}  // namespace it433td
