// fuzz_decoder.cpp - the whole virtual printer on arbitrary bytes: decoder,
// receipts, transcript and drawing (fuzz_stream_decoder.cpp fuzzes the
// decoder alone, much faster).
//
// Beyond "no crash, no out-of-bounds access" (the sanitizers' part) it checks
// that decoding in two chunks gives the events of decoding whole.
#include "renderer.h"
#include "stream_decoder.h"
#include "transcript.h"
#include "virtual_printer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace it433td::printer;

namespace {

std::vector<std::string> decode(const std::uint8_t *data, size_t size, size_t split) {
  std::vector<std::string> events;
  StreamDecoder decoder([&](const PrinterEvent &event) { events.push_back(describe(event)); });
  decoder.feed(data, split);
  decoder.feed(data + split, size - split);
  decoder.finish();
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size) {
  const size_t split = size ? (data[0] * 131u) % (size + 1) : 0;
  if (decode(data, size, size) != decode(data, size, split)) {
    std::fprintf(stderr, "chunking changed the events (split at %zu)\n", split);
    std::abort();
  }

  VirtualPrinter printer(
      [](Receipt &&receipt) {
        (void)transcriptOf(receipt);
        if (receipt.lengthDots <= 2048) (void)renderGrey(receipt);  // keep runs fast
      },
      [](std::uint8_t answer) {
        if ((answer & 0x93) != 0x12) std::abort();  // bits 1, 4 set; 0, 7 clear
      });
  printer.setState(static_cast<PrinterState>(size % 4));
  printer.feed(data, size);
  printer.finish();
  return 0;
}
