// demo_receipt.h - the receipt `it433td demo` prints (demo-receipt.txt,
// built into the program).
#pragma once

#include <string_view>

namespace it433td::tools {

std::string_view demoReceipt();

}  // namespace it433td::tools
