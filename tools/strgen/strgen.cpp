// strgen: packs message-string source files into one STR0 string resource.
//
//   strgen [--ascii] -o OUTPUT SOURCE...
//
// The source format and the output are described in StrPack.h. The output
// lists the ids in ascending order whatever the order of the lines; with
// --ascii every text must be plain 7-bit ASCII. On any failure strgen
// names the file and line, leaves OUTPUT as it was and exits with 1.
#include <iostream>
#include <string>
#include <vector>

#include "tools/strgen/StrPack.h"

namespace {

int Usage() {
  std::cerr << "usage: strgen [--ascii] -o OUTPUT SOURCE...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool asciiOnly = false;
  std::string output;
  std::vector<std::string> sources;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ascii") {
      asciiOnly = true;
    } else if (arg == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      sources.push_back(arg);
    }
  }
  if (output.empty() || sources.empty()) return Usage();
  try {
    strgen::Entries entries;
    for (const auto& source : sources) strgen::ReadSourceFile(source, asciiOnly, entries);
    strgen::WriteOutput(output, strgen::Pack(entries));
  } catch (const strgen::SourceError& error) {
    std::cerr << "strgen: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
