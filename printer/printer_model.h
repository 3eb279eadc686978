// printer_model.h - which printer the virtual printer stands in for, chosen
// when it starts: the IT433TD (the default) or a generic ESC/POS printer,
// and the paper the ESC/POS printer has.
//
// Both models lay their receipts out in the same receipt model, picture and
// transcript; only the decoder that reads the byte stream, the paper's width
// and the status answers differ.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace it433td::printer {

enum class Model { It433td, Escpos };

struct PrinterSetup {
  Model model = Model::It433td;
  int paperMm = 80;  // 80 (576 dots) or 58 (384 dots); the IT433TD takes 80 only

  int paperWidthDots() const { return paperMm == 58 ? 384 : 576; }
  bool escpos() const { return model == Model::Escpos; }
};

// "it433td" or "escpos", as `--model` takes it.
std::string_view modelName(Model model);
// "the IT433TD model, 80 mm paper", "the ESC/POS model, 58 mm paper": what
// the log and the page say runs.
std::string describeSetup(const PrinterSetup &setup);

// The setup `--model` and `--paper` ask for (empty strings: the defaults),
// or nothing, with `error` saying why ("--paper must be 58 or 80").
std::optional<PrinterSetup> parseSetup(std::string_view model, std::string_view paper,
                                       std::string *error);

}  // namespace it433td::printer
