#include "workarea/read_text.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pellar {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

// `bytes` converted from Windows-1252, appended to `out`.
void AppendFromAnsi(Text& out, std::string_view bytes) {
  const size_t old = out.size();
  out.resize(old + bytes.size());
  char16_t* dest = out.data() + old;
  for (char b : bytes) *dest++ = AnsiChar(static_cast<unsigned char>(b));
}

}  // namespace

AnsiLineReader::AnsiLineReader(std::unique_ptr<SequentialFile> file)
    : file_(std::move(file)) {}

AnsiLineReader AnsiLineReader::Open(TextView path) {
  return AnsiLineReader(Platform::Current().NewSequentialFile(path));
}

bool AnsiLineReader::Fill() {
  if (eof_) return false;
  // Keep the unread bytes at the front; grow only for a line longer than
  // what is left of the buffer.
  const size_t unread = end_ - pos_;
  if (pos_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + pos_, unread);
    pos_ = 0;
    end_ = unread;
  }
  if (capacity_ - end_ < kReadChunk) {
    const size_t capacity = std::max(capacity_ * 2, end_ + kReadChunk);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (end_ > 0) std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
  }
  const size_t got = file_->Read(buffer_.get() + end_, capacity_ - end_);
  end_ += got;
  if (got == 0) eof_ = true;
  return got != 0;
}

bool AnsiLineReader::Next(std::string_view* line) {
  // Bytes after pos_ already known to hold no CR (pos_ moves when Fill
  // compacts the buffer, the offset does not).
  size_t scanned = 0;
  while (true) {
    const char* begin = buffer_.get() + pos_;
    const size_t unread = end_ - pos_;
    const void* found =
        unread > scanned ? std::memchr(begin + scanned, '\r', unread - scanned)
                         : nullptr;
    if (found != nullptr) {
      const size_t cr =
          static_cast<size_t>(static_cast<const char*>(found) - begin);
      // A CR ending the bytes read so far may be the first half of CR LF.
      if (cr + 1 == unread && !eof_) {
        scanned = cr;
        Fill();
        continue;
      }
      *line = std::string_view(begin, cr);
      pos_ += cr + 1;
      if (pos_ < end_ && buffer_[pos_] == '\n') ++pos_;
      return true;
    }
    scanned = unread;
    if (!Fill()) {
      if (pos_ >= end_) return false;
      *line = std::string_view(buffer_.get() + pos_, end_ - pos_);
      pos_ = end_;
      return true;
    }
  }
}

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
