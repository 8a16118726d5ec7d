// Line-oriented text files in Windows-1252 over the platform's files.
#ifndef PELLAR_FRAME_TEXTFILE_H_
#define PELLAR_FRAME_TEXTFILE_H_

#include <memory>
#include <string>

#include "frame/text.h"
#include "platform/platform.h"

namespace pellar {

// Writes text converted to Windows-1252 ("?" for unmappable characters).
// Owns the file; the destructor closes it silently if Close() was not called.
class TextWriter {
 public:
  explicit TextWriter(std::unique_ptr<WritableFile> file);
  // Creates or truncates `path` through the current platform.
  static TextWriter Create(TextView path, FileAccess access = FileAccess::kNormal);

  // Writes `line` followed by CR LF (one platform write per call).
  void WriteLine(TextView line);
  // Writes `text` as it is.
  void Write(TextView text);
  void Close();

 private:
  std::unique_ptr<WritableFile> file_;
  std::string buffer_;
};

// Reads lines of Windows-1252 text. A line ends at CR or at CR LF; a lone LF
// does not end a line and stays inside it. No empty line follows a final
// line end.
class TextReader {
 public:
  explicit TextReader(std::unique_ptr<SequentialFile> file);
  // Opens `path` through the current platform.
  static TextReader Open(TextView path);

  // Reads the next line into `line`; false at the end of the file.
  bool ReadLine(Text* line);

 private:
  bool Fill();

  std::unique_ptr<SequentialFile> file_;
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
};

// Deletes every ordinary file matching `path` (wildcards allowed in the last
// component); nothing when none matches.
void DeleteIfExists(TextView path);

}  // namespace pellar

#endif  // PELLAR_FRAME_TEXTFILE_H_
