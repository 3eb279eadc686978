// render_main.cpp - it433td_render: prints captured byte streams on paper.
//
//   it433td_render OUTPUT_FOLDER FILE...
// Feeds the files, one after the other, to one virtual printer (as one
// stream) and writes each receipt as receipt-NNNN.png and .txt. "-" reads
// standard input. Exit status 0 when every file was read and every receipt
// written, 1 otherwise, 2 on bad usage.
#include "receipt_folder.h"
#include "virtual_printer.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

using namespace it433td::printer;

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER FILE...\n", argv[0]);
    return 2;
  }
  removeReceiptTemporariesOnSignals();  // Ctrl-C leaves no temporary file
  ReceiptFolder folder(argv[1]);
  int status = 0;
  VirtualPrinter printer(
      [&](Receipt &&receipt) {
        std::string error;
        const auto written = folder.write(receipt, &error);
        if (written.empty()) {
          std::fprintf(stderr, "%s\n", error.c_str());
          status = 1;
        } else {
          std::printf("%s\n", written.c_str());
        }
      },
      nullptr);
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    std::ifstream file;
    std::istream *in = &std::cin;
    if (name != "-") {
      file.open(name, std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "%s: cannot open\n", name.c_str());
        status = 1;
        continue;
      }
      in = &file;
    }
    const std::string bytes((std::istreambuf_iterator<char>(*in)), std::istreambuf_iterator<char>());
    printer.feed(bytes);
  }
  printer.finish();
  return status;
}
