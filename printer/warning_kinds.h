// warning_kinds.h - every kind of warning line the printer writes, in one
// list: the code makes its lines from it, docs/readme-printer.md's Warnings
// table lists it (held against it by the printer tests), and a kind missing
// here cannot be warned about.
//
// Each entry: the kind's name, its line's marker ("[WARNING ...", or
// "[NOTE ..." for what is no mistake of the sender's), what the line says,
// with {} where the occurrence names a subject (the command, the reason),
// the anchor of its row in the docs, and what it means, as the docs say it.
// The line then counts the occurrences and shows the first places:
//   [WARNING unknown byte, not an IT433TD command (2 times): 0D at byte 1, 0D at byte 9]
//
// Adding a kind: docs/maintaining.md, "Adding a warning kind".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace it433td::printer {

// X(name, marker, says, anchor, meaning)
#define IT433TD_WARNING_KINDS(X)                                                                   \
  X(EscposCommand, "WARNING", "{}: not an IT433TD command", "warning-escpos-command",              \
    "an ESC/POS command, named (its bytes shown)")                                                 \
  X(UnknownCommand, "WARNING", "command not understood: {}", "warning-unknown-command",            \
    "the ESC/POS model: a command it does not know, or one whose parameters are none it takes, "   \
    "named with what is wrong (its bytes shown)")                                                  \
  X(UnknownByte, "WARNING", "unknown byte, not {}", "warning-unknown-byte",                        \
    "unknown bytes, a count and the bytes")                                                        \
  X(Utf8Text, "WARNING", "UTF-8 text, but {}", "warning-utf8-text",                                \
    "multi-byte UTF-8 sequences in the text (the IT433TD takes code page 850, the ESC/POS model "  \
    "the table chosen with ESC t, so \"é\" prints as \"├®\")")                                     \
  X(UnprintableByte, "WARNING", "bytes the code table {} cannot print",                            \
    "warning-unprintable-byte",                                                                    \
    "the ESC/POS model: text bytes its code table has no character for (printed as a blot)")       \
  X(NotCut, "WARNING", "no cut ({}) before the receipt ended", "warning-not-cut",                  \
    "a receipt ended without a cut, and why: the end of a network job, a network job silent "      \
    "for 10 s, the emulator stopped, the end of `render`'s input")                                 \
  X(TextTooWide, "WARNING", "text wider than the paper ({}), wrapped onto the next line",          \
    "warning-text-too-wide",                                                                       \
    "text past the paper's columns (48 normal, 64 condensed; the ESC/POS model's print area), "    \
    "wrapped")                                                                                     \
  X(ImageNotPrinted, "WARNING", "image not printed: {}", "warning-image-not-printed",              \
    "a raster image wider than the paper (576 dots, 384 on 58 mm paper; or empty, or taller "      \
    "than 4096)")                                                                                  \
  X(Code128NotPrinted, "WARNING", "CODE128 not printed: {}", "warning-code128-not-printed",        \
    "a CODE128 symbol that cannot fit on the paper or cannot be encoded")                          \
  X(BarcodeNotPrinted, "WARNING", "barcode not printed: {}", "warning-barcode-not-printed",        \
    "the ESC/POS model: barcode data its symbology cannot encode, or bars wider than the print "   \
    "area")                                                                                        \
  X(SymbolNotPrinted, "WARNING", "2D symbol not printed: {}", "warning-symbol-not-printed",        \
    "the ESC/POS model: a QR code or PDF417 too large for its size, or wider than the print area") \
  X(CodeNotRead, "WARNING", "{} printed, but it does not read back", "warning-code-not-read",      \
    "the ESC/POS model: a barcode whose printed bars a scanner cannot read")                       \
  X(CutShort, "WARNING", "command cut short by the end of the stream", "warning-cut-short",        \
    "a command cut short by the end of the stream")                                                \
  X(JobEnded, "NOTE", "job ended: {}", "note-job-ended",                                           \
    "a job ended by a limit of its port (time, size, receipts, paper) or by a stop while it "      \
    "still arrived")

enum class WarningKind {
#define IT433TD_WARNING_KIND_NAME(name, marker, says, anchor, meaning) name,
  IT433TD_WARNING_KINDS(IT433TD_WARNING_KIND_NAME)
#undef IT433TD_WARNING_KIND_NAME
};

struct WarningKindInfo {
  WarningKind kind;
  std::string_view name;     // "UnknownByte"
  std::string_view marker;   // "WARNING" or "NOTE"
  std::string_view says;     // with {} for the subject, at most once
  std::string_view anchor;   // its row in docs/readme-printer.md: #warning-unknown-byte
  std::string_view meaning;  // the row's first column
};

inline constexpr WarningKindInfo kWarningKinds[] = {
#define IT433TD_WARNING_KIND_INFO(name, marker, says, anchor, meaning) \
  {WarningKind::name, #name, marker, says, anchor, meaning},
    IT433TD_WARNING_KINDS(IT433TD_WARNING_KIND_INFO)
#undef IT433TD_WARNING_KIND_INFO
};

constexpr const WarningKindInfo &infoOf(WarningKind kind) {
  return kWarningKinds[static_cast<std::size_t>(kind)];
}

// What a line of the kind says about `subject` (ignored by a kind that
// names none): "image not printed: empty".
std::string warningWhat(WarningKind kind, std::string_view subject = {});

}  // namespace it433td::printer
