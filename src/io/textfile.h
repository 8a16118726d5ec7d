// Text files in Windows-1252 over the platform's files: a line writer, the
// block writer of the large saves, the one line reader, and every save's
// file.
#ifndef PELLAR_IO_TEXTFILE_H_
#define PELLAR_IO_TEXTFILE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <pellar/base/text.h>
#include <pellar/platform/platform.h>

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

// Collects whole lines, composed in place as bytes, and hands them to the
// file kBlockSize bytes or more at a time. The destructor writes what is
// collected and closes the file, ignoring failures: the lines composed
// before a failure stay in the file. Bytes whose write failed are dropped,
// never written after a gap.
class BlockWriter {
 public:
  static constexpr size_t kBlockSize = 256 * 1024;

  explicit BlockWriter(std::unique_ptr<WritableFile> file);
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Room for `bytes` bytes at the end of the collected ones; the caller
  // writes there and hands the end it reached to Commit().
  char* Room(size_t bytes) {
    if (capacity_ - size_ < bytes) MakeRoom(bytes);
    return buffer_.get() + size_;
  }
  // The end of the room Room() gave: lines may be composed up to it before
  // one Commit.
  char* Limit() { return buffer_.get() + capacity_; }
  void Commit(char* end) {
    size_ = static_cast<size_t>(end - buffer_.get());
    if (size_ >= kBlockSize) Flush();
  }
  void Append(std::string_view bytes);
  // Writes the collected lines now.
  void Flush();
  // Writes the collected lines and closes the file; failures throw.
  void Close();

 private:
  void MakeRoom(size_t bytes);

  std::unique_ptr<WritableFile> file_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

// The one line reader: the lines of a file as raw Windows-1252 bytes, so
// that readers scan large files without converting every line. A line ends
// at CR or at CR LF; a lone LF stays inside its line; no empty line follows
// a final line end.
class AnsiLineReader {
 public:
  static constexpr size_t kReadChunk = 256 * 1024;

  explicit AnsiLineReader(std::unique_ptr<SequentialFile> file);
  // Opens `path` through the current platform; throws Failure when it
  // cannot.
  static AnsiLineReader Open(TextView path);

  // The next line in `line`, valid until the next call; false at the end.
  [[nodiscard]] bool Next(std::string_view* line);
  // The next run of whole lines with their line ends, as much as one read
  // brought, valid until the next call; false at the end. Splitting the
  // runs with NextLine gives the lines that Next gives.
  [[nodiscard]] bool NextLines(std::string_view* lines);
  // Takes the first line of a run from NextLines off `lines`.
  static std::string_view NextLine(std::string_view& lines);
  // The file's size when opened, 0 when unknown (see SequentialFile).
  uint64_t SizeHint() const { return file_->SizeHint(); }

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

// Every save's file: refuses a name with wildcards (52, before anything is
// touched: deleting by it would remove every file it matches, and Windows
// refuses to create one), then creates it through one CreateForSave, which
// for kNormal deletes an older file of that name first. The other accesses
// replace an older file by renaming a fresh one over it, which deleting
// first would spoil (a symbolic link planted there would be removed rather
// than replaced). `step` as CreateForSave's; the refusal leaves it as
// it was. Failures throw.
std::unique_ptr<WritableFile> OpenForSave(
    TextView path, FileAccess access = FileAccess::kNormal,
    SaveStep* step = nullptr);

}  // namespace pellar

#endif  // PELLAR_IO_TEXTFILE_H_
