// fuzz_stream_decoder.cpp - the virtual printer's stream decoder alone on
// arbitrary bytes: events only, no receipts, no drawing, so it runs thousands
// of inputs a second.
//
// Beyond "no crash, no out-of-bounds access" (the sanitizers' part) it checks
// that chunking never changes the events: the stream fed in pieces of 1 to
// 16 bytes (cut differently for every input) gives the events of the stream
// fed whole, field by field, raster data and stream offsets included. The pieces go to the
// decoder that took the whole stream, after its finish(), which must leave
// it as good as new.
#include "stream_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace it433td::printer;

namespace {

bool sameEvent(const PrinterEvent &a, const PrinterEvent &b) {
  return a.kind == b.kind && a.bytes == b.bytes && a.value == b.value && a.width == b.width &&
         a.height == b.height && a.raster == b.raster && a.detail == b.detail &&
         a.received == b.received && a.expected == b.expected && a.offset == b.offset;
}

// Piece sizes from 1 to 16, drawn from a generator seeded with the input's
// length and first bytes, so every input is cut its own way, repeatably.
std::size_t nextPiece(std::uint32_t &state) {
  state = state * 1664525u + 1013904223u;
  return 1 + (state >> 24) % 16;
}

[[noreturn]] void reportDifference(const std::vector<PrinterEvent> &whole,
                                   const std::vector<PrinterEvent> &pieces) {
  std::fprintf(stderr, "in pieces, after finish(), the events changed: %zu whole, %zu in pieces\n",
               whole.size(), pieces.size());
  for (std::size_t i = 0; i < whole.size() || i < pieces.size(); ++i)
    std::fprintf(stderr, "  %-40s | %s\n", i < whole.size() ? describe(whole[i]).c_str() : "-",
                 i < pieces.size() ? describe(pieces[i]).c_str() : "-");
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // The stream whole, then, through the same decoder after finish(), in
  // pieces: each event is compared as it comes with the whole stream's (no
  // copies: the time should go to decoding).
  std::vector<PrinterEvent> whole;
  bool collecting = true;
  std::size_t next = 0;
  bool same = true;
  StreamDecoder decoder([&](const PrinterEvent &event) {
    if (collecting) {
      whole.push_back(event);
      return;
    }
    same = same && next < whole.size() && sameEvent(event, whole[next]);
    ++next;
  });
  decoder.feed(data, size);
  decoder.finish();

  collecting = false;
  auto feedInPieces = [&](StreamDecoder &d) {
    std::uint32_t state = static_cast<std::uint32_t>(size);
    for (std::size_t i = 0; i < size && i < 4; ++i) state = state * 31u + data[i];
    for (std::size_t at = 0; at < size;) {
      const std::size_t piece = std::min(nextPiece(state), size - at);
      d.feed(data + at, piece);
      at += piece;
    }
    d.finish();
  };
  feedInPieces(decoder);
  if (same && next == whole.size()) return 0;

  // Once more, into a list, to show the two side by side.
  std::vector<PrinterEvent> pieces;
  StreamDecoder again([&](const PrinterEvent &event) { pieces.push_back(event); });
  again.feed(data, size);
  again.finish();
  pieces.clear();
  feedInPieces(again);
  reportDifference(whole, pieces);
}
