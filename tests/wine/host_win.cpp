// host_win.exe: a Windows host of the driver module, as a point-of-sale
// program uses it. It loads Pkg_Vossik.dll by name, looks up the plain
// exports and prints one receipt: a condensed line, a CODE128 barcode, a
// cut and a QR code. Then it tries a QR code on a port name that would
// smuggle a command into cmd.exe's line, which the module must refuse
// without touching the port, then one whose copy cannot write (the port
// Z:\dev\full, Linux's /dev/full: COPY fails with "disk full"), which the
// module must report, and prints one more line to show the port is still
// open before closing it.
//
//   host_win.exe PORT TEXT CODE128_DATA QR_DATA
//   host_win.exe --qr-rounds PORT NAME ROUNDS
//
// The second form is one till of two that share their folder (and Dados):
// it opens PORT, says "ready", waits for a file "go" in the working folder,
// then prints ROUNDS QR codes of its own payloads (till_payload.h), one
// after another, and closes the port.
//
// Every step prints "<step> <status>" on its own line; TEXT is printed as a
// line of its own (a line feed is added). Exit code 0 when the module was
// loaded and every export found, 2 otherwise; the statuses are for the
// caller to judge.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "till_payload.h"

namespace {

using StartFn = bool(WINAPI *)();
using PortFn = int32_t(WINAPI *)(const char *);
using BytesFn = int32_t(WINAPI *)(const char *, const char *, int32_t);

template <typename Fn>
bool find(HMODULE module, const char *name, Fn &out) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  if (out == nullptr) printf("missing_export %s\n", name);
  return out != nullptr;
}

void report(const char *step, long value) {
  printf("%s %ld\n", step, value);
  fflush(stdout);
}

int32_t lengthOf(const std::string &s) { return static_cast<int32_t>(s.size()); }

// The folder of this executable, with its trailing separator.
std::string ownFolder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool lastWriteTime(const std::string &path, FILETIME &time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  time = data.ftLastWriteTime;
  return true;
}

// One till of two: see the head of this file.
int qrRounds(const char *port, const std::string &name, int rounds) {
  HMODULE module = LoadLibraryA("Pkg_Vossik.dll");
  StartFn start;
  PortFn open, close;
  BytesFn printQr;
  if (module == nullptr || !(find(module, "StartIT433TD", start) &
                             find(module, "IniciaPorta_IT433TD", open) &
                             find(module, "FechaPorta_IT433TD", close) &
                             find(module, "ImprimeQRCode_IT433TD", printQr)))
    return 2;
  report("StartIT433TD", start() ? 1 : 0);
  report("IniciaPorta_IT433TD", open(port));
  report("ready", 1);
  for (int waited = 0; GetFileAttributesA("go") == INVALID_FILE_ATTRIBUTES; waited += 5) {
    if (waited > 60000) return 2;
    Sleep(5);
  }
  for (int round = 0; round < rounds; ++round) {
    const std::string payload = tillPayload(name, round);
    report(("qr_round_" + std::to_string(round)).c_str(),
           printQr(port, payload.data(), lengthOf(payload)));
  }
  report("FechaPorta_IT433TD", close(port));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "--qr-rounds") == 0)
    return qrRounds(argv[2], argv[3], atoi(argv[4]));
  if (argc != 5) {
    fprintf(stderr, "usage: host_win PORT TEXT CODE128_DATA QR_DATA\n");
    return 2;
  }
  const char *port = argv[1];
  const std::string text = std::string(argv[2]) + "\n";
  const std::string code128 = argv[3];
  const std::string qr = argv[4];

  HMODULE module = LoadLibraryA("Pkg_Vossik.dll");
  if (module == nullptr) {
    printf("load_failed %lu\n", GetLastError());
    return 2;
  }
  StartFn start;
  PortFn open, close, cut;
  BytesFn printText, printCode128, printQr;
  bool found = find(module, "StartIT433TD", start) & find(module, "IniciaPorta_IT433TD", open) &
               find(module, "FechaPorta_IT433TD", close) &
               find(module, "FormataTX_IT433TD", printText) &
               find(module, "ImprimeCODE128_IT433TD", printCode128) &
               find(module, "AcionaGuilhotina_IT433TD", cut) &
               find(module, "ImprimeQRCode_IT433TD", printQr);
  if (!found) return 2;

  // The bool result is one byte: read only that byte.
  report("StartIT433TD", start() ? 1 : 0);
  report("IniciaPorta_IT433TD", open(port));
  report("FormataTX_IT433TD", printText(port, text.data(), lengthOf(text)));
  report("ImprimeCODE128_IT433TD", printCode128(port, code128.data(), lengthOf(code128)));
  report("AcionaGuilhotina_IT433TD", cut(port));
  report("ImprimeQRCode_IT433TD", printQr(port, qr.data(), lengthOf(qr)));

  // A port name with '&', '>' and blanks would start a second command in
  // cmd.exe. The module must refuse it at once: no close, no rendering (the
  // printer file keeps its time), no copy (no injected.txt appears).
  const std::string printerFile = ownFolder() + "Dados\\qrCode.prn";
  FILETIME before{}, after{};
  const bool hadFile = lastWriteTime(printerFile, before);
  const std::string unsafePort = std::string(port) + "&type nul>injected.txt";
  const std::string otherQr = "not for printing";
  const ULONGLONG started = GetTickCount64();
  report("ImprimeQRCode_unsafe_port", printQr(unsafePort.c_str(), otherQr.data(),
                                                lengthOf(otherQr)));
  report("ImprimeQRCode_unsafe_port_ms", static_cast<long>(GetTickCount64() - started));
  Sleep(1000);  // time enough for a wrongly started cmd.exe to act
  report("printer_file_untouched",
         hadFile && lastWriteTime(printerFile, after) && CompareFileTime(&before, &after) == 0);
  report("injected_file_absent", GetFileAttributesA("injected.txt") == INVALID_FILE_ATTRIBUTES);

  // The same QR code (the same printer file) to a port that takes no byte:
  // the device library opens it, but cmd.exe's COPY fails.
  const char *fullPort = "Z:\\dev\\full";
  report("ImprimeQRCode_copy_cannot_write", printQr(fullPort, qr.data(), lengthOf(qr)));
  close(fullPort);

  const std::string stillOpen = "port still open\n";
  report("FormataTX_after_unsafe_port",
         printText(port, stillOpen.data(), lengthOf(stillOpen)));
  report("FechaPorta_IT433TD", close(port));
  return 0;
}
