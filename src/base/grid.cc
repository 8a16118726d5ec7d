#include <pellar/base/grid.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>

namespace pellar {
namespace {

// Unreferenced bytes are dropped once they outgrow both this and the bytes
// still in use: rewriting cells costs amortised constant time.
constexpr size_t kCompactAfter = 1 << 20;

}  // namespace

TextCells::TextCells(size_t cells) : refs_(cells, 0) {}

Text TextCells::Get(size_t i) const {
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) return side_[SideIndex(ref)];
  Text text(Length(ref), u'\0');
  DecodeAnsi(std::string_view(bytes_.data() + Offset(ref), Length(ref)),
             text.data());
  return text;
}

char* TextCells::Encode(size_t i, char* dest) const {
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) return EncodeAnsi(side_[SideIndex(ref)], dest);
  const size_t length = Length(ref);
  std::memcpy(dest, bytes_.data() + Offset(ref), length);
  return dest + length;
}

size_t TextCells::FindLastNot(size_t i, char16_t c) const {
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) return side_[SideIndex(ref)].find_last_not_of(c);
  const size_t length = Length(ref);
  if (length == 0) return Text::npos;
  const int code = AnsiCode(c);
  if (code < 0) return length - 1;  // no byte stands for `c`
  const char* bytes = bytes_.data() + Offset(ref);
  for (size_t k = length; k-- > 0;) {
    if (bytes[k] != static_cast<char>(code)) return k;
  }
  return Text::npos;
}

char* TextCells::Place(size_t i, size_t length) {
  if (end() - live_ > kCompactAfter && end() - live_ > live_) {
    Compact();
  }
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) DropSide(i);
  size_t offset;
  if (!IsSide(ref) && ref != 0 &&
      (Length(ref) >= length || Offset(ref) + Length(ref) == end())) {
    // The cell's own room, or the end of the texts where it stands.
    offset = Offset(ref);
    live_ -= Length(ref);
    if (offset + Length(ref) == end()) SetEnd(offset + length);
  } else {
    if (!IsSide(ref)) live_ -= Length(ref);
    offset = end();
    if (offset + length >= (uint64_t{1} << kOffsetBits)) throw std::bad_alloc();
    SetEnd(offset + length);
  }
  live_ += length;
  refs_[i] = length == 0 ? 0
                         : (static_cast<uint64_t>(length) << kOffsetBits) |
                               static_cast<uint64_t>(offset);
  return bytes_.data() + offset;
}

void TextCells::SetSide(size_t i, Text text) {
  const uint64_t ref = refs_[i];
  if (!IsSide(ref)) {
    live_ -= Length(ref);
  } else {
    side_chars_ -= side_[SideIndex(ref)].size();
    side_chars_ += text.size();
    side_[SideIndex(ref)] = std::move(text);
    return;
  }
  size_t index;
  if (!free_side_.empty()) {
    index = free_side_.back();
    free_side_.pop_back();
  } else {
    index = side_.size();
    side_.emplace_back();
  }
  side_chars_ += text.size();
  side_[index] = std::move(text);
  refs_[i] = kSide | index;
}

void TextCells::DropSide(size_t i) {
  const size_t index = SideIndex(refs_[i]);
  side_chars_ -= side_[index].size();
  side_[index] = Text();
  free_side_.push_back(static_cast<uint32_t>(index));
  refs_[i] = 0;
}

void TextCells::Set(size_t i, TextView text, TextView before, TextView after) {
  const size_t length = before.size() + text.size() + after.size();
  if (length <= kMaxLength) {
    char* dest = Place(i, length);
    if ((dest = EncodeAnsiExact(before, dest)) != nullptr &&
        (dest = EncodeAnsiExact(text, dest)) != nullptr &&
        EncodeAnsiExact(after, dest) != nullptr) {
      return;
    }
  }
  Text joined;
  joined.reserve(length);
  joined += before;
  joined += text;
  joined += after;
  SetSide(i, std::move(joined));
}

void TextCells::SetBytes(size_t i, std::string_view bytes) {
  if (bytes.size() > kMaxLength) {
    SetSide(i, FromAnsi(bytes));
    return;
  }
  const size_t length = bytes.size();
  if (refs_[i] == 0 && length != 0) {
    // An empty cell's text goes at the end, copied once.
    const size_t offset = AppendBytes(bytes);
    live_ += length;
    refs_[i] = (static_cast<uint64_t>(length) << kOffsetBits) |
               static_cast<uint64_t>(offset);
    return;
  }
  std::memcpy(Place(i, length), bytes.data(), length);
}

void TextCells::Append(size_t i, TextView text) {
  if (text.empty()) return;
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) {
    side_chars_ += text.size();
    side_[SideIndex(ref)] += text;
    return;
  }
  const size_t old_length = Length(ref);
  const size_t length = old_length + text.size();
  if (length <= kMaxLength) {
    std::string tail(text.size(), '\0');
    if (EncodeAnsiExact(text, tail.data()) != nullptr) {
      if (ref != 0 && Offset(ref) + old_length == end()) {
        // Last in the buffer: grows where it stands.
        AppendBytes(tail);
        live_ += tail.size();
        refs_[i] = (static_cast<uint64_t>(length) << kOffsetBits) | Offset(ref);
        return;
      }
      std::string joined(bytes_.data() + Offset(ref), old_length);
      joined += tail;
      SetBytes(i, joined);
      return;
    }
  }
  Text joined = Get(i);
  joined += text;
  SetSide(i, std::move(joined));
}

size_t TextCells::AppendBytes(std::string_view bytes) {
  const size_t offset = end();
  if (offset + bytes.size() >= (uint64_t{1} << kOffsetBits)) {
    throw std::bad_alloc();
  }
  // The padding moves behind the new bytes.
  bytes_.resize(offset);
  bytes_.append(bytes);
  bytes_.append(kPadding, '\0');
  return offset;
}

size_t TextCells::AppendLoaded(std::string_view bytes) {
  return AppendBytes(bytes);
}

void TextCells::StoreLoadedSlow(size_t i, size_t offset, size_t length) {
  if (length > kMaxLength) {
    SetSide(i, FromAnsi(std::string_view(bytes_.data() + offset, length)));
    return;
  }
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) {
    DropSide(i);
  } else {
    live_ -= Length(ref);
  }
  refs_[i] = Pack(offset, length);
  live_ += length;
}

void TextCells::ReserveLoaded(size_t bytes) {
  if (bytes_.capacity() - bytes_.size() >= bytes) return;
  // Unused bytes make room where they are (as when a file is loaded again
  // into the same area); growing copies the buffer anyway, so then only
  // what cells refer to is copied.
  if (end() > live_ && CompactInPlace() &&
      bytes_.capacity() - bytes_.size() >= bytes) {
    return;
  }
  if (end() > live_) {
    Compact(bytes);
  } else {
    bytes_.reserve(bytes_.size() + bytes);
  }
}

void TextCells::TrimLoaded() {
  // A load into a full area leaves the old texts unused: they go when
  // they outweigh the new ones twice, or at the next load's growth.
  const size_t unused = end() - live_;
  if (unused > kCompactAfter && unused / 2 > live_) Compact();
}

void TextCells::Compact(size_t extra) {
  std::string bytes;
  bytes.reserve(live_ + std::max(extra, live_ / 4) + kPadding);
  bytes.resize(live_ + kPadding);
  const char* const from = bytes_.data();
  char* const to = bytes.data();
  size_t size = 0;
  for (uint64_t& ref : refs_) {
    if (ref == 0 || IsSide(ref)) continue;
    const size_t offset = Offset(ref), length = Length(ref);
    // Cells are short: one fixed copy, of which only `length` counts (the
    // padding keeps both ends inside their buffers).
    if (length <= kCopySlack) {
      std::memcpy(to + size, from + offset, kCopySlack);
    } else {
      std::memcpy(to + size, from + offset, length);
    }
    ref = Pack(size, length);
    size += length;
  }
  bytes_ = std::move(bytes);
  SetEnd(size);
}

bool TextCells::CompactInPlace() {
  size_t last_end = 0;
  for (const uint64_t ref : refs_) {
    if (ref == 0 || IsSide(ref)) continue;
    if (Offset(ref) < last_end) return false;
    last_end = Offset(ref) + Length(ref);
  }
  // Each text moves towards the front, never over one still to be moved.
  char* const data = bytes_.data();
  size_t size = 0;
  for (uint64_t& ref : refs_) {
    if (ref == 0 || IsSide(ref)) continue;
    const size_t offset = Offset(ref), length = Length(ref);
    // A short text far enough ahead moves by one fixed-size copy: its 16
    // bytes end before the next text begins.
    if (length <= kCopySlack && offset - size + length >= kCopySlack) {
      std::memmove(data + size, data + offset, kCopySlack);
    } else {
      std::memmove(data + size, data + offset, length);
    }
    ref = Pack(size, length);
    size += length;
  }
  SetEnd(size);
  return true;
}

Text& SparseTexts::Slot(size_t i) {
  if (i >= slots_.size()) slots_.resize(i + 1, 0);
  if (slots_[i] == 0) {
    if (!free_.empty()) {
      slots_[i] = free_.back() + 1;
      free_.pop_back();
    } else {
      if (texts_.size() >= UINT32_MAX - 1) throw std::bad_alloc();
      texts_.emplace_back();
      slots_[i] = static_cast<uint32_t>(texts_.size());
    }
  }
  return texts_[slots_[i] - 1];
}

void SparseTexts::Set(size_t i, TextView text) {
  if (empty(i)) {
    if (!text.empty()) Append(i, text);
    return;
  }
  Text& slot = texts_[slots_[i] - 1];
  chars_ -= slot.size();
  if (text.empty()) {
    slot = Text();
    free_.push_back(slots_[i] - 1);
    slots_[i] = 0;
    return;
  }
  slot.assign(text);
  chars_ += text.size();
}

uint64_t Grid::MemoryShare(uint64_t physical_memory) {
  if (physical_memory == 0) physical_memory = uint64_t{1} << 32;
  return physical_memory / kMemoryShareDivisor;
}

Text Grid::BoundMessage(TextView what, int64_t n, int64_t bound) {
  Text message(what);
  message += u" number (";
  message += Decimal(n);
  message += u") must be less than";
  message += Decimal(bound);
  return message;
}

Grid::Grid(int32_t max_row, int32_t max_col, uint64_t physical_memory) {
  const uint64_t rows = static_cast<uint64_t>(max_row) + 1;
  const uint64_t cols = static_cast<uint64_t>(max_col) + 1;
  // Both factors are at most 2^31, so the product cannot overflow 64 bits.
  const uint64_t cells = rows * cols;
  // Refuse, before allocating, what the machine could not hold: a report's
  // sizes must never bring the host process down.
  if (cells > MemoryShare(physical_memory) / kBytesPerCell ||
      cells > SIZE_MAX / sizeof(uint64_t)) {
    throw Failure(error::kOutOfMemory);
  }
  texts_ = TextCells(static_cast<size_t>(cells));
  stride_ = static_cast<size_t>(cols);
  max_row_ = max_row;
  max_col_ = max_col;
}

void Grid::Require() const {
  if (!exists()) throw Failure(error::kSubscriptOutOfRange);
}

Text Grid::RangeMessage(int32_t row, int32_t col) const {
  if (!Inside(row, max_row_)) return BoundMessage(u"Row", row, max_row_);
  if (!Inside(col, max_col_)) return BoundMessage(u"Column", col, max_col_);
  return Text();
}

}  // namespace pellar
