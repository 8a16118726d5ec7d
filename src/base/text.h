// Text as the automation layer sees it, and the conversions every file and
// console write goes through.
#ifndef PELLAR_BASE_TEXT_H_
#define PELLAR_BASE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <pellar/base/export.h>
namespace pellar {

// UTF-16 code units, like the automation string. Lengths count code units.
using Text = std::u16string;
using TextView = std::u16string_view;

// Windows-1252, one byte per character: the one codec of the library. Every
// conversion to or from the code page goes through it; it uses tables and
// passes plain ASCII through without looking it up.
// Characters the code page lacks become "?". The five bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of
// the same value, as Windows maps them, so every byte survives a round trip.
PELLAR_EXPORT std::string ToAnsi(TextView text);
PELLAR_EXPORT Text FromAnsi(std::string_view bytes);

// UTF-8 for script files and console output. A lone surrogate becomes
// U+FFFD; malformed UTF-8 input decodes to U+FFFD per bad byte.
PELLAR_EXPORT std::string ToUtf8(TextView text);
PELLAR_EXPORT Text FromUtf8(std::string_view bytes);

}  // namespace pellar

#endif  // PELLAR_BASE_TEXT_H_
