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

int32_t length_of(const std::string &s) { return static_cast<int32_t>(s.size()); }

// The folder of this executable, with its trailing separator.
std::string own_folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool last_write_time(const std::string &path, FILETIME &time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  time = data.ftLastWriteTime;
  return true;
}

// One till of two: see the head of this file.
int qr_rounds(const char *port, const std::string &name, int rounds) {
  HMODULE module = LoadLibraryA("Pkg_Vossik.dll");
  StartFn start;
  PortFn open, close;
  BytesFn print_qr;
  if (module == nullptr || !(find(module, "StartIT433TD", start) &
                             find(module, "IniciaPorta_IT433TD", open) &
                             find(module, "FechaPorta_IT433TD", close) &
                             find(module, "ImprimeQRCode_IT433TD", print_qr)))
    return 2;
  report("StartIT433TD", start() ? 1 : 0);
  report("IniciaPorta_IT433TD", open(port));
  report("ready", 1);
  for (int waited = 0; GetFileAttributesA("go") == INVALID_FILE_ATTRIBUTES; waited += 5) {
    if (waited > 60000) return 2;
    Sleep(5);
  }
  for (int round = 0; round < rounds; ++round) {
    const std::string payload = till_payload(name, round);
    report(("qr_round_" + std::to_string(round)).c_str(),
           print_qr(port, payload.data(), length_of(payload)));
  }
  report("FechaPorta_IT433TD", close(port));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "--qr-rounds") == 0)
    return qr_rounds(argv[2], argv[3], atoi(argv[4]));
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
  BytesFn print_text, print_code128, print_qr;
  bool found = find(module, "StartIT433TD", start) & find(module, "IniciaPorta_IT433TD", open) &
               find(module, "FechaPorta_IT433TD", close) &
               find(module, "FormataTX_IT433TD", print_text) &
               find(module, "ImprimeCODE128_IT433TD", print_code128) &
               find(module, "AcionaGuilhotina_IT433TD", cut) &
               find(module, "ImprimeQRCode_IT433TD", print_qr);
  if (!found) return 2;

  // The bool result is one byte: read only that byte.
  report("StartIT433TD", start() ? 1 : 0);
  report("IniciaPorta_IT433TD", open(port));
  report("FormataTX_IT433TD", print_text(port, text.data(), length_of(text)));
  report("ImprimeCODE128_IT433TD", print_code128(port, code128.data(), length_of(code128)));
  report("AcionaGuilhotina_IT433TD", cut(port));
  report("ImprimeQRCode_IT433TD", print_qr(port, qr.data(), length_of(qr)));

  // A port name with '&', '>' and blanks would start a second command in
  // cmd.exe. The module must refuse it at once: no close, no rendering (the
  // printer file keeps its time), no copy (no injected.txt appears).
  const std::string printer_file = own_folder() + "Dados\\qrCode.prn";
  FILETIME before{}, after{};
  const bool had_file = last_write_time(printer_file, before);
  const std::string unsafe_port = std::string(port) + "&type nul>injected.txt";
  const std::string other_qr = "not for printing";
  const ULONGLONG started = GetTickCount64();
  report("ImprimeQRCode_unsafe_port", print_qr(unsafe_port.c_str(), other_qr.data(),
                                                length_of(other_qr)));
  report("ImprimeQRCode_unsafe_port_ms", static_cast<long>(GetTickCount64() - started));
  Sleep(1000);  // time enough for a wrongly started cmd.exe to act
  report("printer_file_untouched",
         had_file && last_write_time(printer_file, after) && CompareFileTime(&before, &after) == 0);
  report("injected_file_absent", GetFileAttributesA("injected.txt") == INVALID_FILE_ATTRIBUTES);

  // The same QR code (the same printer file) to a port that takes no byte:
  // the device library opens it, but cmd.exe's COPY fails.
  const char *full_port = "Z:\\dev\\full";
  report("ImprimeQRCode_copy_cannot_write", print_qr(full_port, qr.data(), length_of(qr)));
  close(full_port);

  const std::string still_open = "port still open\n";
  report("FormataTX_after_unsafe_port",
         print_text(port, still_open.data(), length_of(still_open)));
  report("FechaPorta_IT433TD", close(port));
  return 0;
}
