// qr_folder.h - the folder the module renders this run's QR codes in. The
// module takes the folder IT433TD_DADOS_DIR names, else Dados beside the host
// executable: for an installed it433td that is /usr/bin/Dados, which no user
// may write and no package owns. So print and demo never leave it to that:
// unless the user named a folder, they give the module a private one.
#pragma once

#include <filesystem>

namespace it433td::tools {

// For one run of print or demo, made before the module is loaded and before
// any thread is started (it may set IT433TD_DADOS_DIR):
//   - IT433TD_DADOS_DIR set and not empty: that folder, created when missing
//     (the module does not create it) and checked for writing;
//   - otherwise a new folder of mode 0700, it433td-qr-XXXXXX under
//     $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp, which IT433TD_DADOS_DIR then
//     names for the module; it is removed with what the module left in it
//     when the run ends, also when SIGINT, SIGTERM or SIGHUP ends it.
// Throws ToolError (kExitNoModule) naming the folder, the cause and
// IT433TD_DADOS_DIR when no folder can be used, before anything is printed.
class RunQrFolder {
public:
  RunQrFolder();
  ~RunQrFolder();
  RunQrFolder(const RunQrFolder &) = delete;
  RunQrFolder &operator=(const RunQrFolder &) = delete;

  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path path_;
  bool own_ = false;  // made here, removed at the end
};

// For a failed QR code: "QR codes are rendered in FOLDER (IT433TD_DADOS_DIR)".
std::string describeQrFolder();

}  // namespace it433td::tools
