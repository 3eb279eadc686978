// The driver unit's operations, behind the module's exported boundary.
// Each answers a vendor status or one of the module's own statuses; none
// takes the module lock or catches exceptions (the boundary does both).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace it433td::driver {

// Vendor binding.
bool start();
void stop();

// Port opening and closing. openPort applies the port-opening rule: serial
// line settings for names beginning with "COM", five zeros otherwise.
int32_t openPort(std::string_view port);
int32_t closePort(std::string_view port);

// Printing.
int32_t printCondensed(std::string_view port, std::string_view text);
int32_t printCode128(std::string_view port, std::string_view data);
int32_t fireCutter(std::string_view port);
int32_t printQrCode(std::string_view port, std::string_view data);

// The Dados folder beside the host executable at `exePath`, with a
// trailing separator: "C:\App\host.exe" gives "C:\App\Dados\". A root keeps
// its separator, so "C:\host.exe" gives "C:\\Dados\".
std::string dadosFolder(std::string_view exePath, char separator);

}  // namespace it433td::driver
