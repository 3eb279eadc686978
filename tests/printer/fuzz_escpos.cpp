// fuzz_escpos.cpp - the ESC/POS model whole (decoder, receipts, transcript,
// drawing) on arbitrary bytes, on 80 mm paper or 58 mm (the input's first
// byte chooses).
//
// Beyond "no crash, no out-of-bounds access" it checks that chunking never
// changes what is printed: the stream fed in pieces of 1 to 16 bytes gives
// the transcripts and the status answers of the stream fed whole.
#include "renderer.h"
#include "transcript.h"
#include "virtual_printer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace it433td::printer;

namespace {

struct Printout {
  std::string transcripts, answers;
};

Printout print(const std::uint8_t *data, std::size_t size, bool inPieces, bool draw) {
  Printout out;
  const PrinterSetup setup{Model::Escpos, size && (data[0] & 1) ? 58 : 80};
  VirtualPrinter printer(
      [&](Receipt &&receipt) {
        out.transcripts += transcriptOf(receipt);
        if (draw) (void)renderGrey(receipt);
      },
      [&](std::uint8_t answer) { out.answers += static_cast<char>(answer); }, setup);
  std::uint32_t state = static_cast<std::uint32_t>(size);
  for (std::size_t at = 0; at < size;) {
    state = state * 1664525u + 1013904223u;
    const std::size_t piece = inPieces ? 1 + (state >> 24) % 16 : size;
    const std::size_t n = piece < size - at ? piece : size - at;
    printer.feed(data + at, n);
    at += n;
  }
  printer.finish();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const Printout whole = print(data, size, false, true);
  const Printout pieces = print(data, size, true, false);
  if (whole.transcripts == pieces.transcripts && whole.answers == pieces.answers) return 0;
  std::fprintf(stderr, "in pieces the printout changed:\n--- whole\n%s\n--- in pieces\n%s\n",
               whole.transcripts.c_str(), pieces.transcripts.c_str());
  std::abort();
}
