// quivrel-convert: converts sequence datasets between quivrel's binary form
// and a line-per-sequence text form.
//
// Binary form: a headerless stream of 32-bit little-endian signed ints.
// Item codes are >= 0, -1 ends an itemset, -2 ends a sequence.
// Text form: the same words in decimal, blank-separated, one sequence a line.

#include "dataset_io.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

void usage(std::ostream& out) {
  out << "usage: quivrel-convert totext DATA.bin\n"
         "       quivrel-convert tobin DATA.txt|- DATA.bin\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    usage(std::cout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "totext") == 0) {
    return qtools::run_totext(argv[2], std::cout, std::cerr);
  }
  if (argc == 4 && std::strcmp(argv[1], "tobin") == 0) {
    return qtools::run_tobin(argv[2], argv[3], std::cin, std::cerr);
  }
  usage(std::cerr);
  return 2;
}
