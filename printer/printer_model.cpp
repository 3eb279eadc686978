// printer_model.cpp - the model's and paper's names.
#include "printer_model.h"

namespace it433td::printer {

std::string_view modelName(Model model) { return model == Model::Escpos ? "escpos" : "it433td"; }

std::string describeSetup(const PrinterSetup &setup) {
  return std::string(setup.escpos() ? "the ESC/POS model" : "the IT433TD model") + ", " +
         std::to_string(setup.paperMm) + " mm paper";
}

std::optional<PrinterSetup> parseSetup(std::string_view model, std::string_view paper,
                                       std::string *error) {
  const auto fail = [&](std::string why) -> std::optional<PrinterSetup> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  PrinterSetup setup;
  if (model == "escpos")
    setup.model = Model::Escpos;
  else if (!model.empty() && model != "it433td")
    return fail("--model must be it433td or escpos, not \"" + std::string(model) + "\"");
  if (paper == "58")
    setup.paperMm = 58;
  else if (!paper.empty() && paper != "80")
    return fail("--paper must be 58 or 80, not \"" + std::string(paper) + "\"");
  if (!setup.escpos() && setup.paperMm != 80)
    return fail("the IT433TD prints on 80 mm paper only (--paper 58 needs --model escpos)");
  return setup;
}

}  // namespace it433td::printer
