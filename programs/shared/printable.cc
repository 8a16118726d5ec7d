#include "printable.h"

#include <cstdio>

namespace pellar::programs {

std::string Printable(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    char code[8];
    if (byte == '\r' || byte == '\n' || byte == '\t') {
      out += byte == '\r' ? "\\r" : byte == '\n' ? "\\n" : "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      out += code;
    } else if (byte == 0xC2 && i + 1 < line.size() &&
               static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(line[i + 1]) <= 0x9F) {
      // C1 controls, NEL among them, which some readers take as line ends.
      std::snprintf(code, sizeof code, "\\u00%02X",
                    static_cast<unsigned char>(line[++i]));
      out += code;
    } else {
      out += line[i];
    }
  }
  return out;
}

}  // namespace pellar::programs
