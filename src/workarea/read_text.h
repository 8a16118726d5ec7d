// The library's whole-file text reader and its line-splitting companion.
#ifndef PELLAR_WORKAREA_READ_TEXT_H_
#define PELLAR_WORKAREA_READ_TEXT_H_

#include <memory>
#include <string_view>
#include <vector>

#include "frame/text.h"
#include "platform/platform.h"

namespace pellar {

// The file's lines joined by CR LF, no line end after the last; empty lines
// at the very start are dropped. "" for an empty name without touching the
// disk. A missing or unreadable file throws Failure.
Text ReadTextFile(TextView file_name);
// ReadTextFile split at every CR LF; an empty text gives an empty list.
std::vector<Text> ReadTextLines(TextView file_name);

// The lines of a file as raw Windows-1252 bytes, for readers that scan large
// files without converting every line. A line ends at CR or at CR LF; a lone
// LF stays inside its line; no empty line follows a final line end.
class AnsiLineReader {
 public:
  explicit AnsiLineReader(std::unique_ptr<SequentialFile> file);
  // Opens `path` through the current platform; throws Failure when it
  // cannot.
  static AnsiLineReader Open(TextView path);

  // The next line in `line`, valid until the next call; false at the end.
  bool Next(std::string_view* line);

 private:
  // Reads more bytes after the unread ones; false at the end of the file.
  bool Fill();

  std::unique_ptr<SequentialFile> file_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t pos_ = 0;  // first unread byte
  size_t end_ = 0;  // end of the bytes read
  bool eof_ = false;
};

}  // namespace pellar

#endif  // PELLAR_WORKAREA_READ_TEXT_H_
