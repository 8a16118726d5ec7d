// The library's whole-file text reader and its line-splitting companion.
#ifndef PELLAR_IO_READ_TEXT_H_
#define PELLAR_IO_READ_TEXT_H_

#include <vector>

#include <pellar/base/text.h>
#include <pellar/io/textfile.h>

namespace pellar {

// The file's lines joined by CR LF, no line end after the last; empty lines
// at the very start are dropped. "" for an empty name without touching the
// disk. A missing or unreadable file throws Failure.
Text ReadTextFile(TextView file_name);
// ReadTextFile split at every CR LF; an empty text gives an empty list.
std::vector<Text> ReadTextLines(TextView file_name);

}  // namespace pellar

#endif  // PELLAR_IO_READ_TEXT_H_
