// The one grid of the classes that hold cells (Cell, Table): bounds, the
// range messages, the memory cap, and compact storage of the cell texts.
//
// Texts are kept in one buffer as Windows-1252 bytes, each cell holding an
// 8-byte reference; a text the code page cannot hold exactly (or a very
// long one) lives in a side store, so every text reads back exactly as it
// was stored. Format texts are held only for cells that have one.
#ifndef PELLAR_BASE_GRID_H_
#define PELLAR_BASE_GRID_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/text.h>

namespace pellar {

// The texts of a fixed number of cells, every one "" at first.
class TextCells {
 public:
  TextCells() = default;
  explicit TextCells(size_t cells);

  size_t size(size_t i) const {
    const uint64_t ref = refs_[i];
    return IsSide(ref) ? side_[SideIndex(ref)].size() : Length(ref);
  }
  bool empty(size_t i) const { return refs_[i] == 0; }
  Text Get(size_t i) const;
  // The text's bytes when it is held as such, else false (side store).
  bool Bytes(size_t i, std::string_view* bytes) const {
    const uint64_t ref = refs_[i];
    if (IsSide(ref)) return false;
    *bytes = std::string_view(bytes_.data() + Offset(ref), Length(ref));
    return true;
  }
  // The text of a cell held in the side store.
  const Text& Side(size_t i) const { return side_[SideIndex(refs_[i])]; }
  // Writes the size(i) Windows-1252 bytes of the text at `dest` ("?" for
  // characters the code page lacks); answers the end.
  char* Encode(size_t i, char* dest) const;
  // Index of the last character that differs from `c`, or npos.
  size_t FindLastNot(size_t i, char16_t c) const;

  // Replaces the text with `before` & `text` & `after`.
  void Set(size_t i, TextView text, TextView before = {}, TextView after = {});
  // Replaces the text with Windows-1252 `bytes`.
  void SetBytes(size_t i, std::string_view bytes);
  void Append(size_t i, TextView text);
  // Characters of all texts.
  size_t total_chars() const { return live_ + side_chars_; }

  // Bulk loading. A run of lines joins the buffer whole (answering the
  // offset of its first byte), and StoreLoaded points a cell at a field
  // inside it: a field costs a reference, not a copy. TrimLoaded drops the
  // bytes no cell refers to (separators, skipped fields, replaced texts)
  // once they outweigh the texts twice.
  size_t AppendLoaded(std::string_view bytes);
  // Room for `bytes` more loaded bytes, so that the buffer grows once.
  void ReserveLoaded(size_t bytes);
  // Cell i holds the `length` bytes at `offset` of the buffer (length > 0).
  void StoreLoaded(size_t i, size_t offset, size_t length) {
    const uint64_t old = refs_[i];
    if (!IsSide(old) && length <= kMaxLength) {
      refs_[i] = Pack(offset, length);
      live_ += length;
      live_ -= Length(old);
      return;
    }
    StoreLoadedSlow(i, offset, length);
  }
  void TrimLoaded();

  // When every cell of first..first+count-1 is held as bytes, answers true
  // with their number of bytes in `total`.
  bool RowBytes(size_t first, size_t count, size_t* total) const {
    uint64_t seen = 0;
    size_t sum = 0;
    for (size_t i = first; i < first + count; ++i) {
      seen |= refs_[i];
      sum += Length(refs_[i]);
    }
    *total = sum;
    return (seen & kSide) == 0;
  }
  // Bulk writing: writes the bytes of cells first..first+count-1 at
  // `dest`, each followed by `separator`, and answers the end; nullptr
  // (with bytes written at `dest` to be dropped) unless every cell is held
  // as at most kCopySlack bytes. `dest` needs room for
  // count * (kCopySlack + 1) bytes.
  char* JoinShort(size_t first, size_t count, char separator,
                  char* dest) const {
    // Held in locals: the bytes written could alias the members.
    const char* const base = bytes_.data();
    const uint64_t* const refs = refs_.data() + first;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t ref = refs[i];
      // A side reference's length field includes the side bit: too long.
      const size_t length = static_cast<size_t>(ref >> kOffsetBits);
      if (length > kCopySlack) return nullptr;
      // One fixed copy, of which only `length` bytes count: the padding
      // keeps it inside the buffer.
      std::memcpy(dest, base + Offset(ref), kCopySlack);
      dest += length;
      *dest++ = separator;
    }
    return dest;
  }
  static constexpr size_t kCopySlack = 16;
  // How many bytes may be read from `p`, which Bytes() answered: at least
  // kPadding more than the text holds.
  static constexpr size_t kPadding = 2 * kCopySlack;
  size_t ReadableFrom(const char* p) const {
    return static_cast<size_t>(bytes_.data() + bytes_.size() - p);
  }

 private:
  static constexpr uint64_t kSide = uint64_t{1} << 63;
  static constexpr int kOffsetBits = 40;
  static constexpr uint64_t kMaxLength = (uint64_t{1} << 23) - 1;

  static bool IsSide(uint64_t ref) { return (ref & kSide) != 0; }
  static size_t SideIndex(uint64_t ref) { return static_cast<uint32_t>(ref); }
  static size_t Offset(uint64_t ref) {
    return static_cast<size_t>(ref & ((uint64_t{1} << kOffsetBits) - 1));
  }
  static size_t Length(uint64_t ref) {
    return static_cast<size_t>((ref & ~kSide) >> kOffsetBits);
  }

  static uint64_t Pack(size_t offset, size_t length) {
    return (static_cast<uint64_t>(length) << kOffsetBits) |
           static_cast<uint64_t>(offset);
  }
  void StoreLoadedSlow(size_t i, size_t offset, size_t length);

  // Drops what cell i holds, keeping its room when `reuse` for a new text
  // of `length` bytes; answers where the bytes go.
  char* Place(size_t i, size_t length);
  void SetSide(size_t i, Text text);
  void DropSide(size_t i);
  // Copies the bytes cells refer to into a new buffer with room for
  // `extra` more.
  void Compact(size_t extra = 0);
  // Moves the bytes cells refer to to the front of the buffer, keeping its
  // room; false (nothing moved) unless cells refer to bytes in buffer order,
  // as a load leaves them.
  bool CompactInPlace();

  // Where the texts end: the buffer ends with kPadding bytes after them, so
  // that fixed-size copies from any text stay inside it.
  size_t end() const { return bytes_.size() - kPadding; }
  // Adds `bytes` after the texts; answers their offset.
  size_t AppendBytes(std::string_view bytes);
  // Makes the texts end at `end`, keeping the padding after them.
  void SetEnd(size_t end) { bytes_.resize(end + kPadding); }

  std::vector<uint64_t> refs_;
  std::string bytes_ = std::string(kPadding, '\0');
  size_t live_ = 0;  // bytes of bytes_ that cells refer to
  std::vector<Text> side_;
  std::vector<uint32_t> free_side_;
  size_t side_chars_ = 0;
};

// Texts of the cells that have one, such as formats. A cell's slot is
// looked up by index, so that walking the cells in order walks the texts
// in the order they were set, without a hash lookup per cell.
class SparseTexts {
 public:
  const Text& Get(size_t i) const {
    return empty(i) ? empty_ : texts_[slots_[i] - 1];
  }
  bool empty(size_t i) const { return i >= slots_.size() || slots_[i] == 0; }
  // Appends `text` to the text of cell i (which then has one, if empty).
  void Append(size_t i, TextView text) {
    Slot(i) += text;
    chars_ += text.size();
  }
  void Set(size_t i, TextView text);
  size_t total_chars() const { return chars_; }

 private:
  // The text of cell i, made when it has none.
  Text& Slot(size_t i);

  std::vector<uint32_t> slots_;  // per cell: 0, or 1 + index into texts_
  std::vector<Text> texts_;
  std::vector<uint32_t> free_;  // indexes of texts_ no cell uses
  size_t chars_ = 0;
  Text empty_;
};

class Grid {
 public:
  // What a cell may cost, its texts included: a grid is refused when its
  // cells at this cost exceed the share of physical memory.
  static constexpr uint64_t kBytesPerCell = 64;
  static constexpr uint64_t kMemoryShareDivisor = 2;  // at most half

  // The bytes a work area may take on a machine with `physical_memory`
  // bytes (0 when unknown).
  static uint64_t MemoryShare(uint64_t physical_memory);
  // bound: "<what> number (" & n & ") must be less than" & bound.
  static Text BoundMessage(TextView what, int64_t n, int64_t bound);
  static bool Inside(int64_t index, int64_t bound) {
    return index >= 0 && index <= bound;
  }

  // No grid: both bounds 0.
  Grid() = default;
  // (max_row + 1) x (max_col + 1) empty cells; fails with 7, before
  // allocating, beyond the share of `physical_memory`.
  Grid(int32_t max_row, int32_t max_col, uint64_t physical_memory);

  bool exists() const { return stride_ != 0; }
  // Fails with 9 when no grid exists.
  void Require() const;
  int32_t max_row() const { return max_row_; }
  int32_t max_col() const { return max_col_; }
  // Lowers (or raises, up to the allocated rows) the row bound.
  void set_max_row(int32_t max_row) { max_row_ = max_row; }
  // "" when (row, col) is inside the bounds, else the row message or the
  // column message.
  Text RangeMessage(int32_t row, int32_t col) const;
  bool Contains(int32_t row, int32_t col) const {
    return Inside(row, max_row_) && Inside(col, max_col_);
  }
  // Index of (row, col); the caller has checked the bounds.
  size_t At(int32_t row, int32_t col) const {
    return static_cast<size_t>(row) * stride_ + static_cast<size_t>(col);
  }

  TextCells& texts() { return texts_; }
  const TextCells& texts() const { return texts_; }
  SparseTexts& formats() { return formats_; }
  const SparseTexts& formats() const { return formats_; }

 private:
  int32_t max_row_ = 0;
  int32_t max_col_ = 0;
  size_t stride_ = 0;  // columns per allocated row; 0 without a grid
  TextCells texts_;
  SparseTexts formats_;
};

}  // namespace pellar

#endif  // PELLAR_BASE_GRID_H_
