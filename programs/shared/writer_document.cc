#include "writer_document.h"

#include <utility>

#include <pellar/base/text.h>

namespace pellar::programs {
namespace {

// The code page maps the control characters XML forbids to private-use
// characters at kControlBase + byte, so that a document holding them still
// parses; FromWriterCodes turns them back.
constexpr int kControlBase = 0xF700;

bool IsForbiddenControl(int byte) {
  return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

int XMLCALL Windows1252(void* /*data*/, const XML_Char* /*name*/,
                        XML_Encoding* info) {
  for (int byte = 0; byte < 256; ++byte) {
    if (byte >= 0x80) {
      info->map[byte] = AnsiChar(static_cast<unsigned char>(byte));
    } else {
      info->map[byte] = IsForbiddenControl(byte) ? kControlBase + byte : byte;
    }
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

}  // namespace

XML_Parser NewWriterDocumentParser() {
  XML_Parser parser = XML_ParserCreate("windows-1252");
  if (parser != nullptr) {
    XML_SetUnknownEncodingHandler(parser, &Windows1252, nullptr);
  }
  return parser;
}

// Expat hands a reference "&#0150;" over as U+0096 (C2 96 in UTF-8); the
// writer meant the Windows-1252 character 150. References to 160..255 mean
// the same either way, and raw bytes arrive already mapped. The mapped
// control characters arrive as EF 9C 80..9F.
void FromWriterCodes(std::string& value) {
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i + 1 < value.size(); ++i) {
    const auto lead = static_cast<unsigned char>(value[i]);
    if (lead < 0x80) continue;  // most of any text
    const auto next = static_cast<unsigned char>(value[i + 1]);
    if (lead == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out.append(value, copied, i - copied);
      const char16_t c = AnsiChar(next);
      out += ToUtf8(TextView(&c, 1));
      copied = i + 2;
      ++i;
    } else if (lead == 0xEF && next == 0x9C && i + 2 < value.size()) {
      const auto last = static_cast<unsigned char>(value[i + 2]);
      if (last >= 0x80 && last <= 0x9F) {
        out.append(value, copied, i - copied);
        out += static_cast<char>(last - 0x80);
        copied = i + 3;
        i += 2;
      }
    }
  }
  if (copied == 0) return;
  out.append(value, copied);
  value = std::move(out);
}

}  // namespace pellar::programs
