// status_answers.cpp - the one-byte answers of DLE EOT n.
#include "status_answers.h"

#include <array>
#include <utility>

namespace it433td::printer {

namespace {
constexpr std::array<std::pair<PrinterState, std::string_view>, 4> kNames{{
    {PrinterState::Online, "online"},
    {PrinterState::PaperNearEnd, "near-end"},
    {PrinterState::PaperOut, "paper-out"},
    {PrinterState::Offline, "offline"},
}};
}  // namespace

std::string_view stateName(PrinterState state) {
  for (const auto &[value, name] : kNames)
    if (value == state) return name;
  return "unknown";
}

std::optional<PrinterState> stateFromName(std::string_view name) {
  for (const auto &[value, known] : kNames)
    if (known == name) return value;
  return std::nullopt;
}

std::optional<std::uint8_t> statusAnswer(PrinterState state, int n) {
  using namespace status_bits;
  const bool paperOut = state == PrinterState::PaperOut;
  const bool coverOpen = state == PrinterState::Offline;
  std::uint8_t answer = kFixed;
  switch (n) {
    case 1:
      if (paperOut || coverOpen) answer |= kOffline;
      return answer;
    case 2:
      if (coverOpen) answer |= kCoverOpen;
      if (paperOut) answer |= kPaperEndStop;
      return answer;
    case 3:
      return answer;
    case 4:
      if (state == PrinterState::PaperNearEnd) answer |= kPaperNearEnd;
      if (paperOut) answer |= kPaperOut;
      return answer;
    default:
      return std::nullopt;
  }
}

}  // namespace it433td::printer

namespace it433td::printer {

namespace {

std::uint8_t paperSensor(PrinterState state) {
  if (state == PrinterState::PaperOut) return 0x0F;
  return state == PrinterState::PaperNearEnd ? 0x03 : 0x00;
}

}  // namespace

std::string escposQueryAnswer(PrinterState state, std::string_view command, int n, int paperMm) {
  if (command == "GS a") return n ? automaticStatus(state) : std::string();
  if (command == "GS r") {
    if (n == 1 || n == '1') return std::string(1, static_cast<char>(paperSensor(state)));
    if (n == 2 || n == '2') return std::string(1, '\0');
    return {};
  }
  switch (n) {  // GS I
    case 1:
    case '1': return "\x20";
    case 2:
    case '2': return "\x02";
    case 3:
    case '3': return "\x10";
    case 65: return std::string("_1.0") + '\0';
    case 66: return std::string("_VIRTUAL PRINTER") + '\0';
    case 67: return "_ESC/POS " + std::to_string(paperMm) + "MM" + '\0';
    case 68: return std::string("_0000000001") + '\0';
    default: return {};
  }
}

std::string automaticStatus(PrinterState state) {
  std::string status(4, '\0');
  status[0] = static_cast<char>(0x10 | (state == PrinterState::Offline ? 0x28 : 0) |
                                (state == PrinterState::PaperOut ? 0x08 : 0));
  status[2] = static_cast<char>(paperSensor(state));
  status[3] = 0x0F;
  return status;
}

}  // namespace it433td::printer
