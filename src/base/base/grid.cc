#include "base/grid.h"

#include <cstring>
#include <new>

#include "base/failure.h"

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
  if (bytes_.size() - live_ > kCompactAfter && bytes_.size() - live_ > live_) {
    Compact();
  }
  const uint64_t ref = refs_[i];
  if (IsSide(ref)) DropSide(i);
  size_t offset;
  if (!IsSide(ref) && ref != 0 &&
      (Length(ref) >= length || Offset(ref) + Length(ref) == bytes_.size())) {
    // The cell's own room, or the end of the buffer where it stands.
    offset = Offset(ref);
    live_ -= Length(ref);
    if (offset + Length(ref) == bytes_.size()) bytes_.resize(offset + length);
  } else {
    if (!IsSide(ref)) live_ -= Length(ref);
    offset = bytes_.size();
    if (offset + length >= (uint64_t{1} << kOffsetBits)) throw std::bad_alloc();
    bytes_.resize(offset + length);
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
    // An empty cell's text goes at the end, copied once (a load fills
    // every cell this way).
    const size_t offset = bytes_.size();
    if (offset + length >= (uint64_t{1} << kOffsetBits)) throw std::bad_alloc();
    bytes_.append(bytes);
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
      if (ref != 0 && Offset(ref) + old_length == bytes_.size()) {
        // Last in the buffer: grows where it stands.
        bytes_ += tail;
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

void TextCells::Compact() {
  std::string bytes;
  bytes.reserve(live_ + live_ / 4);
  for (uint64_t& ref : refs_) {
    if (ref == 0 || IsSide(ref)) continue;
    const size_t length = Length(ref);
    const size_t offset = bytes.size();
    bytes.append(bytes_.data() + Offset(ref), length);
    ref = (static_cast<uint64_t>(length) << kOffsetBits) | offset;
  }
  bytes_ = std::move(bytes);
}

size_t SparseTexts::total_chars() const {
  size_t chars = 0;
  for (const auto& entry : texts_) chars += entry.second.size();
  return chars;
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
