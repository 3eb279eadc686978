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
