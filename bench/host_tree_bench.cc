// Bytes of parsed tree per statement of the script host, for the scripts
// given (by default the host benchmark's script and the example report).
// Not a timing: the tree's size is what keeps large scripts cheap to hold.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <pellar/base/text.h>
#include "parser.h"

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    files = {PELLAR_SOURCE_DIR "/bench/host_bench.vbs",
             PELLAR_SOURCE_DIR "/examples/report.vbs"};
  }
  size_t bytes = 0, literals = 0, statements = 0;
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    pellar::ParseResult parsed = pellar::Parse(pellar::FromUtf8(text.str()));
    if (!in || parsed.error) {
      std::cerr << file << ": cannot parse\n";
      return 1;
    }
    bytes += parsed.program.TreeBytes();
    literals += parsed.program.TextBytes();
    statements += parsed.program.StatementCount();
    std::cout << file << ": " << parsed.program.StatementCount()
              << " statements, " << parsed.program.TreeBytes()
              << " bytes of tree, " << parsed.program.TextBytes()
              << " bytes of text literals\n";
  }
  const double n = statements ? static_cast<double>(statements) : 1.0;
  std::printf("tree bytes per statement = %.1f (target <= 200)\n",
              static_cast<double>(bytes) / n);
  std::printf("text literal bytes per statement = %.1f\n",
              static_cast<double>(literals) / n);
  return 0;
}
