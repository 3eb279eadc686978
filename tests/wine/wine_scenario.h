// The receipt the Windows host prints under Wine, shared by the program that
// runs it (wine_capture) and the checks that judge what reached the port.
#pragma once

namespace it433td::wine_test {

// The port as the host names it; the Wine prefix maps it to a pseudo-terminal.
constexpr const char *kPort = "COM1";
// host_win prints the text as a line of its own (it adds the line feed).
constexpr const char *kText = "Cupom 0042 - total R$ 12,50";
constexpr const char *kCode128 = "7891234567895";
constexpr const char *kQrData = "https://nfce.example.test/consulta?chave=35251112345678000199650010000000421000000420";
// After the refused unsafe port name, the host prints this line.
constexpr const char *kStillOpenText = "port still open\n";

// Files wine_capture leaves in its output folder.
constexpr const char *kCaptureFile = "captured.bin";     // bytes read on the pty's master
constexpr const char *kHostOutputFile = "host.txt";      // host_win's "<step> <status>" lines
constexpr const char *kLineSettingsFile = "line.txt";    // the pty's termios after the run
constexpr const char *kStageFolder = "stage";            // host folder: exe, DLLs, Dados/

}  // namespace it433td::wine_test
