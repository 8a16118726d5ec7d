#include <pellar/base/text_internal.h>
#include <pellar/io/read_text.h>

namespace pellar {

Text ReadTextFile(TextView file_name) {
  Text text;
  if (file_name.empty()) return text;
  AnsiLineReader reader = AnsiLineReader::Open(file_name);
  std::string_view line;
  // While the text is empty a line replaces it, so empty lines at the very
  // start leave no trace.
  while (reader.Next(&line)) {
    if (!text.empty()) text += u"\r\n";
    AppendFromAnsi(text, line);
  }
  return text;
}

std::vector<Text> ReadTextLines(TextView file_name) {
  // Lines hold no CR, so splitting the joined text at CR LF gives back the
  // lines themselves, less the empty ones at the start; build them at once.
  std::vector<Text> lines;
  if (file_name.empty()) return lines;
  AnsiLineReader reader = AnsiLineReader::Open(file_name);
  std::string_view line;
  while (reader.Next(&line)) {
    if (lines.empty() && line.empty()) continue;
    Text& added = lines.emplace_back();
    AppendFromAnsi(added, line);
  }
  return lines;
}

}  // namespace pellar
