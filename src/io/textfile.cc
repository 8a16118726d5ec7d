#include <pellar/base/text_internal.h>
#include <pellar/io/textfile.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include <pellar/base/failure.h>

namespace pellar {

TextWriter::TextWriter(std::unique_ptr<WritableFile> file)
    : file_(std::move(file)) {}

TextWriter TextWriter::Create(TextView path, FileAccess access) {
  return TextWriter(Platform::Current().NewWritableFile(path, access));
}

void TextWriter::WriteLine(TextView line) {
  buffer_.resize(line.size() + 2);
  char* end = EncodeAnsi(line, buffer_.data());
  end[0] = '\r';
  end[1] = '\n';
  file_->Append(buffer_);
}

void TextWriter::Write(TextView text) { file_->Append(ToAnsi(text)); }

void TextWriter::Close() { file_->Close(); }

BlockWriter::BlockWriter(std::unique_ptr<WritableFile> file)
    : file_(std::move(file)) {}

BlockWriter::~BlockWriter() {
  if (!file_) return;
  try {
    Flush();
  } catch (...) {
    // The failure that ended the writing is the one reported.
  }
  try {
    file_->Close();
  } catch (...) {
  }
}

void BlockWriter::MakeRoom(size_t bytes) {
  if (size_ > 0 && size_ + bytes > kBlockSize) Flush();
  if (capacity_ - size_ >= bytes) return;
  // One block, or more for a single line longer than a block.
  const size_t capacity = std::max(kBlockSize + kBlockSize / 4, size_ + bytes);
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(bigger.get(), buffer_.get(), size_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

void BlockWriter::Append(std::string_view bytes) {
  char* dest = Room(bytes.size());
  std::memcpy(dest, bytes.data(), bytes.size());
  Commit(dest + bytes.size());
}

void BlockWriter::Flush() {
  if (size_ == 0) return;
  const size_t size = size_;
  // Dropped before writing: bytes whose write failed must not reach the
  // file later, after a gap.
  size_ = 0;
  file_->AppendLines(std::string_view(buffer_.get(), size));
}

void BlockWriter::Close() {
  Flush();
  // A failed close is tried once more by the destructor, which keeps the
  // lines a file buffers itself.
  file_->Close();
  file_.reset();
}

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

bool AnsiLineReader::NextLines(std::string_view* lines) {
  while (true) {
    const char* begin = buffer_.get() + pos_;
    const size_t unread = end_ - pos_;
    if (eof_) {
      if (unread == 0) return false;
      *lines = std::string_view(begin, unread);
      pos_ = end_;
      return true;
    }
    // The run ends after the last CR that cannot be the first half of a
    // CR LF still to be read: a CR as the very last byte waits.
    size_t cut = 0;
    for (size_t i = unread >= 2 ? unread - 1 : 0; i-- > 0;) {
      if (begin[i] == '\r') {
        cut = i + 1;
        if (begin[cut] == '\n') ++cut;
        break;
      }
    }
    if (cut > 0) {
      *lines = std::string_view(begin, cut);
      pos_ += cut;
      return true;
    }
    Fill();
  }
}

std::string_view AnsiLineReader::NextLine(std::string_view& lines) {
  const void* found = std::memchr(lines.data(), '\r', lines.size());
  if (found == nullptr) {
    std::string_view line = lines;
    lines = std::string_view();
    return line;
  }
  const size_t cr =
      static_cast<size_t>(static_cast<const char*>(found) - lines.data());
  std::string_view line = lines.substr(0, cr);
  size_t next = cr + 1;
  if (next < lines.size() && lines[next] == '\n') ++next;
  lines.remove_prefix(next);
  return line;
}

std::unique_ptr<WritableFile> OpenForSave(TextView path, FileAccess access,
                                          SaveStep* step) {
  if (path.find_first_of(u"*?") != TextView::npos) {
    throw Failure(error::kBadFileName);
  }
  return Platform::Current().CreateForSave(path, access, step);
}

}  // namespace pellar
