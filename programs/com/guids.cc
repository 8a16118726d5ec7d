#include "guids.h"

#include <array>
#include <cctype>

namespace pellar::com {
namespace {

constexpr std::array<ClassGuids, 7> kClassGuids = {{
    {u"Cell", "17046D52-459A-4EFF-AAB0-F33B07002841",
     "85F90CE9-1CCD-4A55-A5DA-0912928811B6"},
    {u"UFL", "1203DD9A-9C81-49AB-86F7-FEC0A8843538",
     "602E67D4-500A-48FE-8012-69E9AB8D55C4"},
    {u"FTP", "71093546-05E0-4FA6-A599-5822AEF55608",
     "0ED630AA-0EAC-4114-BDBC-D964A918F8D8"},
    {u"File", "D30C7558-81F6-4553-AC41-B24CD2DF5C35",
     "7288F024-C0F0-4581-BDF4-07FE80CD5AE5"},
    {u"Folder", "A4729E6F-7B87-42F3-AC88-ED5663AB40A4",
     "13519CB3-F034-40FA-9FA4-4CEF26E4E8C8"},
    {u"Email", "8060D62A-0559-46B1-877C-D80459F0E69F",
     "1206AC17-F0B0-413B-809C-8F525CDA1EA4"},
    {u"Table", "CE8BE9F1-36E5-41B2-B305-36BED7977489",
     "CA63AE11-F1A6-45E5-9C01-15BFD40FA411"},
}};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `pos`; false when one is not hex.
bool ReadHex(std::string_view text, size_t pos, size_t digits,
             uint64_t* value) {
  *value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = HexDigit(text[pos + i]);
    if (d < 0) return false;
    *value = *value * 16 + static_cast<uint64_t>(d);
  }
  return true;
}

}  // namespace

std::span<const ClassGuids> AllClassGuids() { return kClassGuids; }

const ClassGuids* FindClassGuids(TextView class_name) {
  for (const ClassGuids& guids : kClassGuids) {
    if (guids.class_name == class_name) return &guids;
  }
  return nullptr;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' ||
      text[18] != '-' || text[23] != '-') {
    return std::nullopt;
  }
  Guid guid;
  uint64_t v;
  if (!ReadHex(text, 0, 8, &v)) return std::nullopt;
  guid.data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 9, 4, &v)) return std::nullopt;
  guid.data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 14, 4, &v)) return std::nullopt;
  guid.data3 = static_cast<uint16_t>(v);
  const size_t byte_pos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    if (!ReadHex(text, byte_pos[i], 2, &v)) return std::nullopt;
    guid.data4[i] = static_cast<uint8_t>(v);
  }
  return guid;
}

std::string BracedGuid(std::string_view text) {
  std::string braced = "{";
  for (char c : text) {
    braced.push_back(
        static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  braced.push_back('}');
  return braced;
}

}  // namespace pellar::com
