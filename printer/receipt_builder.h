// receipt_builder.h - lays print events out on the paper, receipt by receipt.
#pragma once

#include "page_settings.h"
#include "printer_model.h"
#include "receipt.h"
#include "receipt_warnings.h"
#include "stream_decoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace it433td::printer {

class ReceiptBuilder {
public:
  using ReceiptSink = std::function<void(Receipt &&)>;

  // `setup`: the model whose events come (the ESC/POS model's carry page
  // settings, styles, positions and more codes) and its paper.
  explicit ReceiptBuilder(ReceiptSink sink, PrinterSetup setup = {});

  // Status requests are not printed and are ignored here.
  void onEvent(const PrinterEvent &event);
  // End of the stream: the text still in the line buffer is printed and the
  // unfinished receipt, if anything is on it, is handed out uncut, with a
  // warning that says so and why the stream ended (`ending`, e.g. "end of
  // the job").
  void finish(std::string_view ending);
  // The same, for a job ended by a limit of its port (`limit`, e.g. "16 MiB
  // size limit"): the receipt (made if there is none) ends with the line
  // "[NOTE job ended: <limit>]", which counts as its warning.
  void finishAtLimit(std::string_view limit);

private:
  void addText(const PrinterEvent &event);
  // An ESC/POS command: marked where it came and named in a warning.
  void addForeign(const PrinterEvent &event);
  // Writes the marker of the run of unknown bytes still being counted.
  void flushUnknownRun();
  // A marker inside the line (unknown bytes, ESC/POS commands); past
  // kMaxUnknownRunsPerReceipt of them the receipt is junk.
  void markInline(const std::string &marker);
  // Counts a warning of `kind` about `subject` (empty for a kind that names
  // none), at the place `example`. A new one gets its line after the line
  // being printed (or at once if the line buffer is empty).
  void warn(WarningKind kind, std::string subject, std::string example, std::uint64_t times = 1);
  void placePendingWarnings();
  void placeWarningLine(std::string line);
  // " at byte N": an offset from the stream, counted from the last cut.
  std::string at(std::uint64_t offset) const;
  void endStream();
  void printLine(bool lineFeed);
  void printPendingLine();
  void addNote(std::string transcript);
  void addBarcode(const PrinterEvent &event);
  // An image not printed, and why: a note where it came, and its warning.
  void rejectImage(int width, int height, const std::string &why, std::uint64_t offset);
  void cutAt(const PrinterEvent &cut);
  // An empty receipt on the setup's paper.
  void startReceipt();
  void addImage(const PrinterEvent &event);
  // Ends a run of back-to-back images: one picture item, its transcript
  // line "[IMAGE WxH]".
  void closeImageRun();
  // Ends the stretch of paper that holds images and nothing else with ink
  // (feeds, empty lines, notes): reads its codes into the image lines.
  void closePicture();
  void place(PrintedItem item);
  void endReceipt(bool cut, bool continued);
  // Junk: counts an event that is not laid out, up to the next cut.
  void skip(const PrinterEvent &event);
  void endSkipping();

  // The ESC/POS model's layout (escpos_layout.cpp).
  int areaLeft() const;
  int areaRight() const;
  // Where something `width` dots wide starts, as the justification puts it.
  int alignedX(int width) const;
  Glyph styledGlyph(unsigned char byte, std::uint64_t offset);
  // The transcript's style mark before a glyph ("{B 2x2}", "{/}").
  void markStyle(const Glyph &glyph);
  void closeStyle();
  // The justification and upside-down printing of a line about to print.
  void layOutLine(PrintedItem &line);
  void moveTo(int x);
  void nextTabStop();
  void addEscposBarcode(const PrinterEvent &event);
  void addSymbol(const PrinterEvent &event);
  void addBadCommand(const PrinterEvent &event);
  // A receipt with no ink that the job's end leaves (a line feed after the
  // last cut): blank paper, dropped.
  bool blank() const;
  std::string wrapSubject() const;

  ReceiptSink sink_;
  PrinterSetup setup_;
  std::shared_ptr<const PageSettings> settings_;  // the ESC/POS model's; null for the IT433TD
  std::string lineStyle_;                         // the style mark open in the line's transcript
  bool bitImageLine_ = false;  // an ESC * image printed with the line: its line feed is spent
  Receipt receipt_;
  bool condensed_ = false;
  std::vector<Glyph> lineGlyphs_;
  std::string lineTranscript_;  // the line's text with markers of unknown bytes
  int lineX_ = 0;
  int nextNumber_ = 1;
  bool imageRunOpen_ = false;  // the last item is an image still growing
  static constexpr std::size_t kNoPicture = SIZE_MAX;
  std::size_t pictureStart_ = kNoPicture;  // the first item of the open stretch of pictures
  unsigned char unknownRunByte_ = 0;
  std::uint64_t unknownRunCount_ = 0;  // unknown bytes in a row, not yet marked
  size_t transcriptBytes_ = 0;         // of the items on the receipt so far
  int unknownRuns_ = 0;                // marked on the receipt so far
  bool skipping_ = false;              // junk: nothing laid out until the next cut
  std::uint64_t skippedText_ = 0, skippedUnknown_ = 0, skippedCommands_ = 0;
  std::uint64_t unknownRunOffset_ = 0;
  std::uint64_t receiptStart_ = 0;             // stream offset after the last cut
  std::vector<WarningTally> warnings_;         // this receipt's, with their lines placed
  std::vector<WarningTally> pendingWarnings_;  // waiting for the line to be printed
  Utf8Spotter utf8_;
};

}  // namespace it433td::printer
