// The QR payload a till of the two-till test prints in a round: its name
// and the round, in a text long enough to take the renderer a moment.
#pragma once

#include <string>

inline std::string tillPayload(const std::string &till, int round) {
  return "https://pix.example/till/" + till + "/round/" + std::to_string(round) +
         "?amount=12.34&txid=" + std::string(60, till.empty() ? 'x' : till[0]);
}
