// fuzz_stream_decoder.cpp - the virtual printer's stream decoder alone on
// arbitrary bytes: events only, no receipts, no drawing, so it runs thousands
// of inputs a second.
//
// Beyond "no crash, no out-of-bounds access" (the sanitizers' part) it checks
// that chunking never changes the events: the stream fed whole, byte by byte
// and in pieces of varied sizes gives the same events, field by field
// (raster data included). The pieces go to the decoder that took the bytes
// one by one, after its finish(), which must leave it as good as new.
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
         a.received == b.received && a.expected == b.expected;
}

// `feed` gives one decoder the stream `rounds` times; each event is compared
// as it comes with the events of the stream decoded whole (no copies: the
// time should go to decoding).
template <typename Feed>
void expectSame(const std::vector<PrinterEvent> &whole, const char *how, std::size_t rounds,
                Feed feed) {
  std::size_t next = 0;
  bool same = true;
  StreamDecoder decoder([&](const PrinterEvent &event) {
    same = same && next < whole.size() * rounds && sameEvent(event, whole[next % whole.size()]);
    ++next;
  });
  feed(decoder);
  if (same && next == whole.size() * rounds) return;
  // Decoded once more to show the two side by side.
  std::vector<PrinterEvent> other;
  StreamDecoder again([&](const PrinterEvent &event) { other.push_back(event); });
  feed(again);
  std::fprintf(stderr, "%s changed the events: %zu events whole, %zu %s\n", how, whole.size(),
               other.size(), how);
  for (std::size_t i = 0; i < whole.size() || i < other.size(); ++i)
    std::fprintf(stderr, "  %-40s | %s\n", i < whole.size() ? describe(whole[i]).c_str() : "-",
                 i < other.size() ? describe(other[i]).c_str() : "-");
  std::abort();
}

// Piece sizes from 1 to 64, drawn from a generator seeded with the input's
// length and first bytes, so every input is cut its own way, repeatably.
std::size_t nextPiece(std::uint32_t &state) {
  state = state * 1664525u + 1013904223u;
  return 1 + (state >> 24) % 64;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<PrinterEvent> whole;
  StreamDecoder decoder([&](const PrinterEvent &event) { whole.push_back(event); });
  decoder.feed(data, size);
  decoder.finish();

  // Byte by byte, then (the same decoder, after finish()) in pieces.
  expectSame(whole, "byte by byte, then in pieces", 2, [&](StreamDecoder &d) {
    for (std::size_t i = 0; i < size; ++i) d.feed(data + i, 1);
    d.finish();
    std::uint32_t state = static_cast<std::uint32_t>(size);
    for (std::size_t i = 0; i < size && i < 4; ++i) state = state * 31u + data[i];
    for (std::size_t at = 0; at < size;) {
      const std::size_t piece = std::min(nextPiece(state), size - at);
      d.feed(data + at, piece);
      at += piece;
    }
    d.finish();
  });
  return 0;
}
