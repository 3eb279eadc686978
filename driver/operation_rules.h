// What the printer operations fix that a host may need to know beforehand:
// the printer's pauses, the CODE128 limit and where QR files are rendered.
// The driver's operations take them from here, and so does the it433td
// tool (to check a receipt before printing it, to show the pauses it waits
// on, to prepare the QR folder). Header-only: a host includes it without
// linking the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace it433td::driver {

// The printer's fixed pauses, each asked of the platform as a plain sleep:
// after every text write call; between a CODE128 barcode and its line feed
// (the printer draws the bars); and the window the raw copy of a QR printer
// file gets before the port is reclaimed.
inline constexpr uint32_t kTextWritePauseMs = 500;
inline constexpr uint32_t kBarcodePauseMs = 200;
inline constexpr uint32_t kQrCopyWindowMs = 3000;

// The CODE128 command's one-byte length describes at most 255 data bytes;
// longer data would spill into the printer as text and commands, so it is
// refused.
inline constexpr size_t kCode128MaxData = 255;

// QR codes are rendered in the folder this variable names when it is set and
// not empty (read at each QR code: hosts whose executable is an interpreter
// or a shared runtime), otherwise in the folder Dados beside the host
// executable.
inline constexpr char kQrFolderVariable[] = "IT433TD_DADOS_DIR";
inline constexpr char kDadosFolder[] = "Dados";

// That choice: `named` is the variable's value ("" when unset), and
// `dadosBesideExecutable()` makes the other folder, asked for only when
// `named` is empty.
template <typename Folder, typename DadosBesideExecutable>
Folder qrFolder(std::string_view named, DadosBesideExecutable dadosBesideExecutable) {
  if (!named.empty()) return Folder(named);
  return dadosBesideExecutable();
}

}  // namespace it433td::driver
