// receipt_builder.h - lays print events out on the paper, receipt by receipt.
#pragma once

#include "receipt.h"
#include "stream_decoder.h"

#include <functional>

namespace it433td::printer {

class ReceiptBuilder {
public:
  using ReceiptSink = std::function<void(Receipt &&)>;

  explicit ReceiptBuilder(ReceiptSink sink);

  // Status requests are not printed and are ignored here.
  void onEvent(const PrinterEvent &event);
  // End of the stream: the text still in the line buffer is printed and the
  // unfinished receipt, if anything is on it, is handed out uncut.
  void finish();
  // End of a stream that the printer cut short: as finish(), with `note` as
  // the last line of the unfinished receipt; when nothing is pending, on a
  // receipt of its own if `evenAlone`, else not at all.
  void finishWithNote(std::string note, bool evenAlone);

private:
  void addText(const std::string &bytes);
  // Writes the marker of the run of unknown bytes still being counted.
  void flushUnknownRun();
  void printLine(bool lineFeed);
  void printPendingLine();
  void addNote(std::string transcript);
  void addBarcode(const std::string &data);
  void addImage(const PrinterEvent &event);
  // Ends a run of back-to-back images: reads the joined picture for the
  // transcript.
  void closeImageRun();
  void place(PrintedItem item);
  void endReceipt(bool cut, bool continued);
  // Junk: counts an event that is not laid out, up to the next cut.
  void skip(const PrinterEvent &event);
  void endSkipping();

  ReceiptSink sink_;
  Receipt receipt_;
  bool condensed_ = false;
  std::vector<Glyph> lineGlyphs_;
  std::string lineTranscript_;  // the line's text with markers of unknown bytes
  int lineX_ = 0;
  int nextNumber_ = 1;
  bool imageRunOpen_ = false;  // the last item is an image still growing
  unsigned char unknownRunByte_ = 0;
  std::uint64_t unknownRunCount_ = 0;  // unknown bytes in a row, not yet marked
  size_t transcriptBytes_ = 0;         // of the items on the receipt so far
  int unknownRuns_ = 0;                // marked on the receipt so far
  bool skipping_ = false;              // junk: nothing laid out until the next cut
  std::uint64_t skippedText_ = 0, skippedUnknown_ = 0, skippedCommands_ = 0;
};

}  // namespace it433td::printer
