// Unicode simple case folding (the C and S mappings of CaseFolding.txt,
// Unicode 14), for names that spreadsheet programs match in any case.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "workbook.h"

namespace pellar::sheet {
namespace {

// Runs of characters folded alike: `count` characters from `first`, every
// `stride`-th, each to itself plus `delta`.
struct Fold {
  uint32_t first;
  uint16_t count;
  int32_t delta;
  uint8_t stride;
};
constexpr Fold kFolds[] = {
    {0x0041, 26, 32, 1},    {0x00B5, 1, 775, 1},     {0x00C0, 23, 32, 1},
    {0x00D8, 7, 32, 1},     {0x0100, 24, 1, 2},      {0x0132, 3, 1, 2},
    {0x0139, 8, 1, 2},      {0x014A, 23, 1, 2},      {0x0178, 1, -121, 1},
    {0x0179, 3, 1, 2},      {0x017F, 1, -268, 1},    {0x0181, 1, 210, 1},
    {0x0182, 2, 1, 2},      {0x0186, 1, 206, 1},     {0x0187, 1, 1, 1},
    {0x0189, 2, 205, 1},    {0x018B, 1, 1, 1},       {0x018E, 1, 79, 1},
    {0x018F, 1, 202, 1},    {0x0190, 1, 203, 1},     {0x0191, 1, 1, 1},
    {0x0193, 1, 205, 1},    {0x0194, 1, 207, 1},     {0x0196, 1, 211, 1},
    {0x0197, 1, 209, 1},    {0x0198, 1, 1, 1},       {0x019C, 1, 211, 1},
    {0x019D, 1, 213, 1},    {0x019F, 1, 214, 1},     {0x01A0, 3, 1, 2},
    {0x01A6, 1, 218, 1},    {0x01A7, 1, 1, 1},       {0x01A9, 1, 218, 1},
    {0x01AC, 1, 1, 1},      {0x01AE, 1, 218, 1},     {0x01AF, 1, 1, 1},
    {0x01B1, 2, 217, 1},    {0x01B3, 2, 1, 2},       {0x01B7, 1, 219, 1},
    {0x01B8, 1, 1, 1},      {0x01BC, 1, 1, 1},       {0x01C4, 1, 2, 1},
    {0x01C5, 1, 1, 1},      {0x01C7, 1, 2, 1},       {0x01C8, 1, 1, 1},
    {0x01CA, 1, 2, 1},      {0x01CB, 9, 1, 2},       {0x01DE, 9, 1, 2},
    {0x01F1, 1, 2, 1},      {0x01F2, 2, 1, 2},       {0x01F6, 1, -97, 1},
    {0x01F7, 1, -56, 1},    {0x01F8, 20, 1, 2},      {0x0220, 1, -130, 1},
    {0x0222, 9, 1, 2},      {0x023A, 1, 10795, 1},   {0x023B, 1, 1, 1},
    {0x023D, 1, -163, 1},   {0x023E, 1, 10792, 1},   {0x0241, 1, 1, 1},
    {0x0243, 1, -195, 1},   {0x0244, 1, 69, 1},      {0x0245, 1, 71, 1},
    {0x0246, 5, 1, 2},      {0x0345, 1, 116, 1},     {0x0370, 2, 1, 2},
    {0x0376, 1, 1, 1},      {0x037F, 1, 116, 1},     {0x0386, 1, 38, 1},
    {0x0388, 3, 37, 1},     {0x038C, 1, 64, 1},      {0x038E, 2, 63, 1},
    {0x0391, 17, 32, 1},    {0x03A3, 9, 32, 1},      {0x03C2, 1, 1, 1},
    {0x03CF, 1, 8, 1},      {0x03D0, 1, -30, 1},     {0x03D1, 1, -25, 1},
    {0x03D5, 1, -15, 1},    {0x03D6, 1, -22, 1},     {0x03D8, 12, 1, 2},
    {0x03F0, 1, -54, 1},    {0x03F1, 1, -48, 1},     {0x03F4, 1, -60, 1},
    {0x03F5, 1, -64, 1},    {0x03F7, 1, 1, 1},       {0x03F9, 1, -7, 1},
    {0x03FA, 1, 1, 1},      {0x03FD, 3, -130, 1},    {0x0400, 16, 80, 1},
    {0x0410, 32, 32, 1},    {0x0460, 17, 1, 2},      {0x048A, 27, 1, 2},
    {0x04C0, 1, 15, 1},     {0x04C1, 7, 1, 2},       {0x04D0, 48, 1, 2},
    {0x0531, 38, 48, 1},    {0x10A0, 38, 7264, 1},   {0x10C7, 1, 7264, 1},
    {0x10CD, 1, 7264, 1},   {0x13F8, 6, -8, 1},      {0x1C80, 1, -6222, 1},
    {0x1C81, 1, -6221, 1},  {0x1C82, 1, -6212, 1},   {0x1C83, 2, -6210, 1},
    {0x1C85, 1, -6211, 1},  {0x1C86, 1, -6204, 1},   {0x1C87, 1, -6180, 1},
    {0x1C88, 1, 35267, 1},  {0x1C90, 43, -3008, 1},  {0x1CBD, 3, -3008, 1},
    {0x1E00, 75, 1, 2},     {0x1E9B, 1, -58, 1},     {0x1E9E, 1, -7615, 1},
    {0x1EA0, 48, 1, 2},     {0x1F08, 8, -8, 1},      {0x1F18, 6, -8, 1},
    {0x1F28, 8, -8, 1},     {0x1F38, 8, -8, 1},      {0x1F48, 6, -8, 1},
    {0x1F59, 4, -8, 2},     {0x1F68, 8, -8, 1},      {0x1F88, 8, -8, 1},
    {0x1F98, 8, -8, 1},     {0x1FA8, 8, -8, 1},      {0x1FB8, 2, -8, 1},
    {0x1FBA, 2, -74, 1},    {0x1FBC, 1, -9, 1},      {0x1FBE, 1, -7173, 1},
    {0x1FC8, 4, -86, 1},    {0x1FCC, 1, -9, 1},      {0x1FD8, 2, -8, 1},
    {0x1FDA, 2, -100, 1},   {0x1FE8, 2, -8, 1},      {0x1FEA, 2, -112, 1},
    {0x1FEC, 1, -7, 1},     {0x1FF8, 2, -128, 1},    {0x1FFA, 2, -126, 1},
    {0x1FFC, 1, -9, 1},     {0x2126, 1, -7517, 1},   {0x212A, 1, -8383, 1},
    {0x212B, 1, -8262, 1},  {0x2132, 1, 28, 1},      {0x2160, 16, 16, 1},
    {0x2183, 1, 1, 1},      {0x24B6, 26, 26, 1},     {0x2C00, 48, 48, 1},
    {0x2C60, 1, 1, 1},      {0x2C62, 1, -10743, 1},  {0x2C63, 1, -3814, 1},
    {0x2C64, 1, -10727, 1}, {0x2C67, 3, 1, 2},       {0x2C6D, 1, -10780, 1},
    {0x2C6E, 1, -10749, 1}, {0x2C6F, 1, -10783, 1},  {0x2C70, 1, -10782, 1},
    {0x2C72, 1, 1, 1},      {0x2C75, 1, 1, 1},       {0x2C7E, 2, -10815, 1},
    {0x2C80, 50, 1, 2},     {0x2CEB, 2, 1, 2},       {0x2CF2, 1, 1, 1},
    {0xA640, 23, 1, 2},     {0xA680, 14, 1, 2},      {0xA722, 7, 1, 2},
    {0xA732, 31, 1, 2},     {0xA779, 2, 1, 2},       {0xA77D, 1, -35332, 1},
    {0xA77E, 5, 1, 2},      {0xA78B, 1, 1, 1},       {0xA78D, 1, -42280, 1},
    {0xA790, 2, 1, 2},      {0xA796, 10, 1, 2},      {0xA7AA, 1, -42308, 1},
    {0xA7AB, 1, -42319, 1}, {0xA7AC, 1, -42315, 1},  {0xA7AD, 1, -42305, 1},
    {0xA7AE, 1, -42308, 1}, {0xA7B0, 1, -42258, 1},  {0xA7B1, 1, -42282, 1},
    {0xA7B2, 1, -42261, 1}, {0xA7B3, 1, 928, 1},     {0xA7B4, 8, 1, 2},
    {0xA7C4, 1, -48, 1},    {0xA7C5, 1, -42307, 1},  {0xA7C6, 1, -35384, 1},
    {0xA7C7, 2, 1, 2},      {0xA7D0, 1, 1, 1},       {0xA7D6, 2, 1, 2},
    {0xA7F5, 1, 1, 1},      {0xAB70, 80, -38864, 1}, {0xFF21, 26, 32, 1},
    {0x10400, 40, 40, 1},   {0x104B0, 36, 40, 1},    {0x10570, 11, 39, 1},
    {0x1057C, 15, 39, 1},   {0x1058C, 7, 39, 1},     {0x10594, 2, 39, 1},
    {0x10C80, 51, 64, 1},   {0x118A0, 32, 32, 1},    {0x16E40, 32, 32, 1},
    {0x1E900, 34, 34, 1},
};

char32_t FoldChar(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  const Fold* f = std::upper_bound(
      std::begin(kFolds), std::end(kFolds), c,
      [](char32_t x, const Fold& run) { return x < run.first; });
  if (f == std::begin(kFolds)) return c;
  --f;
  const uint32_t offset = uint32_t(c) - f->first;
  if (offset % f->stride != 0 || offset / f->stride >= f->count) return c;
  return char32_t(int32_t(c) + f->delta);
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80             ? 1
                          : (lead & 0xE0) == 0xC0 ? 2
                          : (lead & 0xF0) == 0xE0 ? 3
                          : (lead & 0xF8) == 0xF0 ? 4
                                                  : 0;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool whole = length != 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      whole = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!whole) {  // not UTF-8: the byte stays as it is
      out += text[i++];
      continue;
    }
    AppendUtf8(out, FoldChar(c));
    i += length;
  }
  return out;
}

}  // namespace pellar::sheet
