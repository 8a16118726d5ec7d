#include "frame/textfile.h"

#include "frame/failure.h"

namespace pellar {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

TextWriter::TextWriter(std::unique_ptr<WritableFile> file)
    : file_(std::move(file)) {}

TextWriter TextWriter::Create(TextView path, FileAccess access) {
  return TextWriter(Platform::Current().NewWritableFile(path, access));
}

void TextWriter::WriteLine(TextView line) {
  buffer_ = ToAnsi(line);
  buffer_.append("\r\n");
  file_->Append(buffer_);
}

void TextWriter::Write(TextView text) { file_->Append(ToAnsi(text)); }

void TextWriter::Close() { file_->Close(); }

TextReader::TextReader(std::unique_ptr<SequentialFile> file)
    : file_(std::move(file)) {}

TextReader TextReader::Open(TextView path) {
  return TextReader(Platform::Current().NewSequentialFile(path));
}

bool TextReader::Fill() {
  if (eof_) return false;
  buffer_.erase(0, pos_);
  pos_ = 0;
  size_t old = buffer_.size();
  buffer_.resize(old + kReadChunk);
  size_t got = file_->Read(buffer_.data() + old, kReadChunk);
  buffer_.resize(old + got);
  if (got == 0) eof_ = true;
  return got != 0;
}

bool TextReader::ReadLine(Text* line) {
  size_t scanned = pos_;
  while (true) {
    size_t cr = buffer_.find('\r', scanned);
    if (cr != std::string::npos) {
      // A CR at the end of the buffer may be the first half of CR LF.
      if (cr + 1 == buffer_.size() && !eof_) {
        size_t offset = cr - pos_;
        Fill();
        scanned = pos_ + offset;
        continue;
      }
      *line = FromAnsi(std::string_view(buffer_).substr(pos_, cr - pos_));
      pos_ = cr + 1;
      if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
      return true;
    }
    size_t offset = buffer_.size() - pos_;
    if (!Fill()) {
      if (pos_ >= buffer_.size()) return false;
      *line = FromAnsi(std::string_view(buffer_).substr(pos_));
      pos_ = buffer_.size();
      return true;
    }
    scanned = pos_ + offset;
  }
}

void DeleteIfExists(TextView path) {
  Platform& platform = Platform::Current();
  for (const Text& match : platform.Lookup(path, LookupKind::kFile)) {
    platform.DeleteFile(match);
  }
}

}  // namespace pellar
