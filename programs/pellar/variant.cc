#include "variant.h"

#include <pellar/base/chars.h>
#include <pellar/base/value.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include <pellar/base/number.h>
#include <pellar/base/text_internal.h>

namespace pellar::script {
namespace {

constexpr double kDayZeroShift = 693959;  // days from 0001-01-01 to 1899-12-30

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Days since 1899-12-30 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z -= 25569;
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

Var IntegerResult(int64_t n, VType narrowest) {
  if (narrowest == VType::kInteger && n >= INT16_MIN && n <= INT16_MAX) {
    return Var::Integer(static_cast<int16_t>(n));
  }
  if (n >= INT32_MIN && n <= INT32_MAX)
    return Var::Long(static_cast<int32_t>(n));
  return Var::Double(static_cast<double>(n));
}

using Wide = __int128;

// n / d rounded half to even (d > 0).
Wide DivideHalfEven(Wide n, Wide d) {
  Wide q = n / d;
  const Wide r = n % d;
  const Wide twice = (r < 0 ? -r : r) * 2;
  if (twice > d || (twice == d && q % 2 != 0)) q += n < 0 ? -1 : 1;
  return q;
}

Wide Power10(int n) {
  Wide p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

int64_t CheckedCurrency(Wide ticks) {
  if (ticks < kMinCurrency || ticks > kMaxCurrency) Raise(error::kOverflow);
  return static_cast<int64_t>(ticks);
}

// A Double as Currency: the 15 significant digits a Double shows, rounded
// half to even at the fifth decimal, so that 0.00015 (stored a hair below)
// still gives 0.0002.
int64_t CurrencyFromDouble(double d) {
  if (!std::isfinite(d) || std::fabs(d) >= 1e16) Raise(error::kOverflow);
  if (d == 0) return 0;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(d));
  Wide digits = 0;
  for (const char* c = buffer; *c != 'e'; ++c) {
    if (*c != '.') digits = digits * 10 + (*c - '0');
  }
  // digits * 10^shift ten-thousandths
  const int shift = std::atoi(std::strchr(buffer, 'e') + 1) - 14 + 4;
  Wide ticks = shift >= 0    ? digits * Power10(shift)
               : shift < -30 ? 0
                             : DivideHalfEven(digits, Power10(-shift));
  return CheckedCurrency(d < 0 ? -ticks : ticks);
}

// Exact ten-thousandths of a plain decimal text ("-1234.56789"), rounded
// half to even; false for other forms (exponents, &H), which go through
// Double.
bool DecimalTextTicks(TextView text, Wide* out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
    negative = text[i++] == u'-';
  Wide ticks = 0;
  bool any = false;
  for (; i < text.size() && IsDigit(text[i]); ++i, any = true) {
    ticks = ticks * 10 + (text[i] - u'0');
    if (ticks > Power10(20)) return false;
  }
  ticks *= kCurrencyScale;
  int place = 0;  // decimals read
  bool up = false, half = false, beyond = false;
  if (i < text.size() && text[i] == u'.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++place, any = true) {
      const int digit = text[i] - u'0';
      if (place < 4) {
        ticks += digit * static_cast<Wide>(Power10(3 - place));
      } else if (place == 4) {
        up = digit > 5;
        half = digit == 5;
      } else if (digit != 0) {
        beyond = true;
      }
    }
  }
  if (i != text.size() || !any) return false;
  if (up || (half && (beyond || ticks % 2 != 0))) ++ticks;
  *out = negative ? -ticks : ticks;
  return true;
}

bool IsFloatOrCurrency(const Var& v) {
  return v.type() == VType::kSingle || v.type() == VType::kCurrency;
}

// The operand types that keep a Single result: Single, Byte, Integer,
// Boolean and Empty (with a Long or a Double the result is a Double).
bool KeepsSingle(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
    case VType::kByte:
    case VType::kInteger:
    case VType::kBoolean:
    case VType::kSingle:
      return true;
    default:
      return false;
  }
}

// The rank of a numeric operand's type: Byte/Integer/Boolean < Long <
// Double; texts count as Double.
int Rank(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
    case VType::kByte:
    case VType::kInteger:
    case VType::kBoolean:
      return 0;
    case VType::kLong:
      return 1;
    case VType::kDate:
      return 3;
    default:
      return 2;
  }
}

bool IsWhole(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
    case VType::kByte:
    case VType::kInteger:
    case VType::kBoolean:
    case VType::kLong:
      return true;
    default:
      return false;
  }
}

bool IsWholeOrCurrency(const Var& v) {
  return IsWhole(v) || v.type() == VType::kCurrency;
}

// Currency arithmetic for + - *; nullopt when the result is no Currency.
// Addition and subtraction keep Currency with any number (a Double is
// rounded to Currency first); multiplication only with whole numbers and
// Currency, else the product is a Double.
std::optional<Var> CurrencyArithmetic(BinOp op, const Var& a, const Var& b) {
  if (op == BinOp::kAdd || op == BinOp::kSub) {
    const Wide x = ToCurrency(a), y = ToCurrency(b);
    return Var::Currency(CheckedCurrency(op == BinOp::kAdd ? x + y : x - y));
  }
  if (op != BinOp::kMul || !IsWholeOrCurrency(a) || !IsWholeOrCurrency(b))
    return std::nullopt;
  if (a.type() == VType::kCurrency && b.type() == VType::kCurrency) {
    return Var::Currency(CheckedCurrency(
        DivideHalfEven(static_cast<Wide>(a.raw_currency()) * b.raw_currency(),
                       kCurrencyScale)));
  }
  const Var& c = a.type() == VType::kCurrency ? a : b;
  const Var& n = a.type() == VType::kCurrency ? b : a;
  return Var::Currency(
      CheckedCurrency(static_cast<Wide>(c.raw_currency()) * n.raw_long()));
}

int64_t ToInt64Rounded(const Var& v) {
  if (IsWhole(v)) return v.raw_long();
  // As CLng: -2147483648.5 rounds to even and fits, 2147483647.5 does not.
  return ToLong(v);
}

Var Arithmetic(BinOp op, const Var& a, const Var& b) {
  if (a.is_null() || b.is_null()) return Var::Null();
  if (a.is_object() || b.is_object() || a.is_array() || b.is_array()) {
    Raise(error::kTypeMismatch);
  }
  const bool both_whole = IsWhole(a) && IsWhole(b);
  const bool is_date = (a.type() == VType::kDate || b.type() == VType::kDate) &&
                       (op == BinOp::kAdd || op == BinOp::kSub);
  if (both_whole && op != BinOp::kDiv && op != BinOp::kPow) {
    int64_t x = a.raw_long(), y = b.raw_long();
    VType narrow =
        (Rank(a) == 0 && Rank(b) == 0) ? VType::kInteger : VType::kLong;
    if (a.type() == VType::kByte && b.type() == VType::kByte &&
        op != BinOp::kSub) {
      int64_t r = op == BinOp::kAdd ? x + y : x * y;
      if (r <= 255 && op != BinOp::kIntDiv && op != BinOp::kMod) {
        return Var::Byte(static_cast<uint8_t>(r));
      }
    }
    switch (op) {
      case BinOp::kAdd:
        return IntegerResult(x + y, narrow);
      case BinOp::kSub:
        return IntegerResult(x - y, narrow);
      case BinOp::kMul:
        return IntegerResult(x * y, narrow);
      case BinOp::kIntDiv:
        if (y == 0) Raise(error::kDivisionByZero);
        return IntegerResult(x / y, narrow);
      case BinOp::kMod:
        if (y == 0) Raise(error::kDivisionByZero);
        return IntegerResult(x % y, narrow);
      default:
        break;
    }
  }
  if (op == BinOp::kIntDiv || op == BinOp::kMod) {
    int64_t x = ToInt64Rounded(a), y = ToInt64Rounded(b);
    if (y == 0) Raise(error::kDivisionByZero);
    VType narrow =
        (Rank(a) == 0 && Rank(b) == 0) ? VType::kInteger : VType::kLong;
    return IntegerResult(op == BinOp::kIntDiv ? x / y : x % y, narrow);
  }
  if (!is_date && (IsFloatOrCurrency(a) || IsFloatOrCurrency(b))) {
    if (a.type() == VType::kCurrency || b.type() == VType::kCurrency) {
      if (auto r = CurrencyArithmetic(op, a, b)) return *r;
    } else if (op != BinOp::kPow && KeepsSingle(a) && KeepsSingle(b)) {
      // Single arithmetic in Single precision; past its range a Double.
      const float x = static_cast<float>(ToDouble(a)),
                  y = static_cast<float>(ToDouble(b));
      float r = 0;
      if (op == BinOp::kDiv) {
        if (y == 0) Raise(x == 0 ? error::kOverflow : error::kDivisionByZero);
        r = x / y;
      } else {
        r = op == BinOp::kAdd ? x + y : op == BinOp::kSub ? x - y : x * y;
      }
      if (std::isfinite(r)) return Var::Single(r);
    }
  }
  double x = ToDouble(a), y = ToDouble(b), r = 0;
  switch (op) {
    case BinOp::kAdd:
      r = x + y;
      break;
    case BinOp::kSub:
      r = x - y;
      break;
    case BinOp::kMul:
      r = x * y;
      break;
    case BinOp::kDiv:
      if (y == 0) Raise(x == 0 ? error::kOverflow : error::kDivisionByZero);
      r = x / y;
      break;
    case BinOp::kPow:
      r = std::pow(x, y);
      if (std::isnan(r)) Raise(error::kInvalidCall);
      break;
    default:
      break;
  }
  if (!std::isfinite(r)) Raise(error::kOverflow);
  // A date less a date is a number of days.
  const bool both_dates = a.type() == VType::kDate && b.type() == VType::kDate;
  return is_date && !(both_dates && op == BinOp::kSub) ? Var::Date(r)
                                                       : Var::Double(r);
}

Var Logical(BinOp op, const Var& a, const Var& b) {
  if (a.is_null() || b.is_null()) {
    // Null And False is False, Null Or True is True; otherwise Null.
    const Var& other = a.is_null() ? b : a;
    if (!other.is_null()) {
      if (op == BinOp::kAnd && !ToBool(other) && ToLong(other) == 0)
        return Var::Bool(false);
      if (op == BinOp::kOr && ToLong(other) == -1) return Var::Bool(true);
      // False Imp Null and Null Imp True are True.
      if (op == BinOp::kImp && (a.is_null() ? ToLong(b) == -1 : ToLong(a) == 0))
        return Var::Bool(true);
    }
    return Var::Null();
  }
  const bool booleans =
      a.type() == VType::kBoolean && b.type() == VType::kBoolean;
  int64_t x = ToInt64Rounded(a), y = ToInt64Rounded(b), r = 0;
  switch (op) {
    case BinOp::kAnd:
      r = x & y;
      break;
    case BinOp::kOr:
      r = x | y;
      break;
    case BinOp::kXor:
      r = x ^ y;
      break;
    case BinOp::kEqv:
      r = ~(x ^ y);
      break;
    case BinOp::kImp:
      r = (~x) | y;
      break;
    default:
      break;
  }
  if (booleans) return Var::Bool(r != 0);
  if (Rank(a) == 0 && Rank(b) == 0)
    return Var::Integer(static_cast<int16_t>(r));
  return Var::Long(static_cast<int32_t>(r));
}

int CompareText(TextView a, TextView b, bool text_mode) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (text_mode) {
      x = LowerChar(x);
      y = LowerChar(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

void Raise(int number) { throw Failure(number); }

Var NewArray(std::vector<Var> items) {
  auto* box = new ArrBox;
  box->upper.push_back(static_cast<int32_t>(items.size()) - 1);
  box->items = std::move(items);
  return Var::Array(box);
}

namespace {

// Per thread, as each thread runs its own script.
struct Budget {
  size_t used = 0;
  size_t limit = SIZE_MAX;
};
thread_local Budget budget;

// By length: an append in place is checked for its length beforehand.
size_t StrBytes(const Text& text) {
  return sizeof(StrBox) + text.size() * sizeof(char16_t);
}

// Deletes a box whose last reference went. An array or an object lets go
// of the values it holds as it goes, and those may be the last references
// to more such boxes: they wait in a list here instead of being deleted
// inside the outer deletion, so a chain of a million nested arrays takes no
// more stack than one.
void Destroy(Boxed* box) {
  thread_local std::vector<Boxed*>* pending = nullptr;
  if (pending != nullptr) {
    try {
      pending->push_back(box);
      return;
    } catch (const std::bad_alloc&) {
      // Without room for the list this one goes now, its values nested.
    }
    delete box;
    return;
  }
  std::vector<Boxed*> list;
  pending = &list;
  delete box;
  while (!list.empty()) {
    Boxed* next = list.back();
    list.pop_back();
    delete next;
  }
  pending = nullptr;
}

}  // namespace

void SetMemoryLimit(size_t bytes) { budget.limit = bytes; }

size_t MemoryInUse() { return budget.used; }

void CheckMemory(size_t bytes) {
  if (bytes > budget.limit || budget.used > budget.limit - bytes)
    Raise(error::kOutOfMemory);
}

void CheckTextLength(size_t chars) {
  if (chars > kMaxTextLength) Raise(error::kOutOfMemory);
  CheckMemory(chars * sizeof(char16_t));
}

Boxed::~Boxed() { budget.used -= charged_; }

void Boxed::Charge(size_t bytes) {
  if (bytes > charged_) CheckMemory(bytes - charged_);
  budget.used = budget.used - charged_ + bytes;
  charged_ = bytes;
}

Var Var::String(Text t) {
  Var v;
  v.type_ = VType::kString;
  v.box_ = new StrBox(std::move(t));
  v.box_->Charge(StrBytes(v.str()));
  return v;
}

void Var::RechargeStr() { box_->Charge(StrBytes(str())); }

Var Var::Object(ScriptObject* o) {
  Var v;
  v.type_ = VType::kObject;
  v.obj_ = o;
  if (o != nullptr) ++o->refs;
  return v;
}

Var Var::Array(ArrBox* a) {
  Var v;
  v.type_ = VType::kArray;
  v.arr_ = a;
  a->Recharge();
  return v;
}

Var Var::Number(int64_t n) {
  if (n >= INT16_MIN && n <= INT16_MAX) return Integer(static_cast<int16_t>(n));
  if (n >= INT32_MIN && n <= INT32_MAX) return Long(static_cast<int32_t>(n));
  return Double(static_cast<double>(n));
}

Var Var::Single(double d) {
  if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
    Raise(error::kOverflow);
  Var v;
  v.type_ = VType::kSingle;
  v.c_ = 0;  // the bytes beside the float stay defined when copied
  v.f_ = static_cast<float>(d);
  return v;
}

bool Var::is_numeric() const {
  switch (type_) {
    case VType::kEmpty:
    case VType::kInteger:
    case VType::kLong:
    case VType::kSingle:
    case VType::kCurrency:
    case VType::kDouble:
    case VType::kDate:
    case VType::kBoolean:
    case VType::kByte:
      return true;
    default:
      return false;
  }
}

void Var::AddRef() const {
  if ((type_ == VType::kString || type_ == VType::kObject ||
       type_ == VType::kArray) &&
      box_ != nullptr) {
    ++box_->refs;
  }
}

void Var::Release() {
  if ((type_ == VType::kString || type_ == VType::kObject ||
       type_ == VType::kArray) &&
      box_ != nullptr && --box_->refs == 0) {
    // A text holds no values: it goes at once.
    if (type_ == VType::kString)
      delete box_;
    else if (type_ != VType::kObject || !obj_->KeepWhenUnreferenced())
      Destroy(box_);
  }
  type_ = VType::kEmpty;
}

ArrBox* Var::MutableArray() {
  if (arr_->refs > 1) {
    Var copy = Var::Array(new ArrBox);
    ArrBox* box = copy.arr_;
    box->upper = arr_->upper;
    box->items = arr_->items;
    box->fixed = arr_->fixed;
    box->Recharge();
    Swap(copy);
  }
  return arr_;
}

size_t ArrBox::Offset(std::span<const int32_t> index) const {
  if (index.size() != upper.size()) Raise(error::kSubscriptOutOfRange);
  size_t offset = 0, stride = 1;
  for (size_t i = 0; i < index.size(); ++i) {
    if (index[i] < 0 || index[i] > upper[i]) Raise(error::kSubscriptOutOfRange);
    offset += static_cast<size_t>(index[i]) * stride;
    stride *= static_cast<size_t>(upper[i]) + 1;
  }
  return offset;
}

bool IsNumericText(TextView text, double* out) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  if (b == e) return false;
  if (e - b > 2 && text[b] == u'&' &&
      ((text[b + 1] | 0x20) == u'h' || (text[b + 1] | 0x20) == u'o')) {
    // "&H1F" and "&O17" read as the literals do.
    const bool hex = (text[b + 1] | 0x20) == u'h';
    uint64_t n = 0;
    for (size_t i = b + 2; i < e; ++i) {
      char16_t c = text[i];
      int digit = c >= u'0' && c <= u'9' ? c - u'0'
                  : hex && (c | 0x20) >= u'a' && (c | 0x20) <= u'f'
                      ? (c | 0x20) - u'a' + 10
                      : -1;
      if (digit < 0 || (!hex && digit > 7)) return false;
      n = n * (hex ? 16 : 8) + static_cast<uint64_t>(digit);
      if (n > 0xFFFFFFFFu) return false;
    }
    const bool integer = hex ? e - b <= 6 : n <= 0xFFFF;
    *out = integer ? static_cast<int16_t>(n)
                   : static_cast<int32_t>(static_cast<uint32_t>(n));
    return true;
  }
  TextView number = text.substr(b, e - b);
  Text ungrouped;
  if (number.find(u',') != TextView::npos) {
    // US English groups thousands with ","; like the system's conversion,
    // separators between the whole part's digits are skipped unchecked.
    for (size_t i = 0; i < number.size(); ++i) {
      const char16_t c = number[i];
      if (c == u'.' || (c | 0x20) == u'e' || (c | 0x20) == u'd') {
        ungrouped.append(number.substr(i));
        break;
      }
      if (c == u',') {
        const bool between = i > 0 && i + 1 < number.size() &&
                             IsDigit(number[i - 1]) && IsDigit(number[i + 1]);
        if (!between) return false;
        continue;
      }
      ungrouped += c;
    }
    number = ungrouped;
  }
  try {
    *out = ParseNumber(number);
    return true;
  } catch (const Failure&) {
    return false;
  }
}

double ToDouble(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
      return 0;
    case VType::kInteger:
    case VType::kLong:
    case VType::kBoolean:
    case VType::kByte:
      return v.raw_long();
    case VType::kDouble:
    case VType::kDate:
      return v.raw_double();
    case VType::kSingle:
      return v.raw_single();
    case VType::kCurrency:
      return static_cast<double>(v.raw_currency()) / kCurrencyScale;
    case VType::kString: {
      double d;
      if (!IsNumericText(v.str(), &d)) {
        ParseNumber(v.str());  // raises its own error: 6 for "1E+400"
        Raise(error::kTypeMismatch);
      }
      return d;
    }
    case VType::kNull:
      Raise(error::kInvalidNull);
    case VType::kRef:
      return ToDouble(*v.ref());
    default:
      Raise(error::kTypeMismatch);
  }
}

int32_t ToLong(const Var& v) {
  if (IsWhole(v)) return v.raw_long();
  if (v.type() == VType::kCurrency) {
    const Wide n = DivideHalfEven(v.raw_currency(), kCurrencyScale);
    if (n < INT32_MIN || n > INT32_MAX) Raise(error::kOverflow);
    return static_cast<int32_t>(n);
  }
  double d = ToDouble(v);
  if (!std::isfinite(d) || d >= 2147483647.5 || d < -2147483648.5)
    Raise(error::kOverflow);
  return static_cast<int32_t>(RoundHalfEven(d));
}

int16_t ToInteger(const Var& v) {
  int32_t n = ToLong(v);
  if (n < INT16_MIN || n > INT16_MAX) Raise(error::kOverflow);
  return static_cast<int16_t>(n);
}

int64_t ToCurrency(const Var& v) {
  switch (v.type()) {
    case VType::kCurrency:
      return v.raw_currency();
    case VType::kEmpty:
    case VType::kInteger:
    case VType::kLong:
    case VType::kBoolean:
    case VType::kByte:
      return int64_t{v.raw_long()} * kCurrencyScale;
    case VType::kString: {
      double d;
      if (!IsNumericText(v.str(), &d)) return CurrencyFromDouble(ToDouble(v));
      // Read exactly where the text is plain digits: a Double would lose
      // the last places of large amounts.
      Text plain;
      for (char16_t c : v.str()) {
        if (c != u',' && !IsBlank(c)) plain += c;
      }
      Wide ticks;
      if (DecimalTextTicks(plain, &ticks)) return CheckedCurrency(ticks);
      return CurrencyFromDouble(d);
    }
    case VType::kRef:
      return ToCurrency(*v.ref());
    default:
      return CurrencyFromDouble(ToDouble(v));
  }
}

Text CurrencyText(int64_t ten_thousandths) {
  Wide v = ten_thousandths;
  const bool negative = v < 0;
  if (negative) v = -v;
  Text out = negative ? u"-" : u"";
  out += Decimal(static_cast<int64_t>(v / kCurrencyScale));
  int frac = static_cast<int>(v % kCurrencyScale);
  if (frac != 0) {
    Text digits = ZeroPadded(frac, 4);
    while (digits.back() == u'0') digits.pop_back();
    out += u'.';
    out += digits;
  }
  return out;
}

bool ToBool(const Var& v) {
  if (v.type() == VType::kString) {
    if (EqualsIgnoreCase(v.str(), u"true")) return true;
    if (EqualsIgnoreCase(v.str(), u"false")) return false;
  }
  return ToDouble(v) != 0;
}

Text DateText(double date) {
  DateParts p = SplitDate(date);
  Text out;
  // The date part shows unless it is day 0; the time part unless it is
  // midnight of another day.
  const bool has_date = std::trunc(date) != 0;
  const bool has_time = std::fmod(date, 1.0) != 0 || !has_date;
  if (has_date) {
    out = Decimal(p.month) + u"/" + Decimal(p.day) + u"/" + Decimal(p.year);
  }
  if (has_time) {
    if (!out.empty()) out += u' ';
    int h = p.hour % 12;
    out += Decimal(h == 0 ? 12 : h) + u":" + ZeroPadded(p.minute, 2) + u":" +
           ZeroPadded(p.second, 2) + (p.hour < 12 ? u" AM" : u" PM");
  }
  return out;
}

Text ToStr(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
      return Text();
    case VType::kNull:
      Raise(error::kInvalidNull);
    case VType::kInteger:
    case VType::kLong:
    case VType::kByte:
      return Decimal(v.raw_long());
    case VType::kBoolean:
      return v.raw_long() ? u"True" : u"False";
    case VType::kDouble:
      return DoubleText(v.raw_double());
    case VType::kSingle:
      return SingleText(v.raw_single());
    case VType::kCurrency:
      return CurrencyText(v.raw_currency());
    case VType::kDate:
      return DateText(v.raw_double());
    case VType::kString:
      return v.str();
    case VType::kRef:
      return ToStr(*v.ref());
    default:
      Raise(error::kTypeMismatch);
  }
}

Text EchoText(const Var& v) {
  if (v.type() == VType::kBoolean) return v.raw_long() ? u"-1" : u"0";
  if (v.is_null()) return u"Null";
  return ToStr(v);
}

double MakeDate(int year, int month, int day) {
  // Months and days out of range roll over, as DateSerial does.
  int64_t y = year + (month - 1) / 12;
  int m = (month - 1) % 12;
  if (m < 0) {
    m += 12;
    --y;
  }
  return static_cast<double>(DaysFromCivil(y, m + 1, 1) + day - 1);
}

double MakeTime(int hour, int minute, int second) {
  return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

DateParts SplitDate(double date) {
  DateParts p{};
  double days = std::floor(date);
  double frac = date - days;
  if (date < 0 && frac != 0) {
    // Before 1899-12-30 the time still counts forward from midnight.
    days = std::ceil(date);
    frac = days - date;
  }
  int64_t seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;
  }
  CivilFromDays(static_cast<int64_t>(days), &p.year, &p.month, &p.day);
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  int64_t wd =
      (static_cast<int64_t>(days) + 6) % 7;  // 1899-12-30 was a Saturday
  if (wd < 0) wd += 7;
  p.weekday = static_cast<int>(wd) + 1;
  (void)kDayZeroShift;
  return p;
}

bool ParseDateText(TextView text, double* out) {
  std::vector<int> nums;
  std::vector<char16_t> seps;
  bool pm = false, am = false;
  int month_word = 0;
  size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      int n = 0, len = 0;
      while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && len < 6) {
        n = n * 10 + (text[i++] - u'0');
        ++len;
      }
      nums.push_back(n);
      continue;
    }
    if ((c | 0x20) >= u'a' && (c | 0x20) <= u'z' && c != u'T') {
      // AM, PM or an English month name, whole or cut to three letters.
      std::string word;
      while (i < text.size() && (text[i] | 0x20) >= u'a' &&
             (text[i] | 0x20) <= u'z') {
        word += static_cast<char>(text[i++] | 0x20);
      }
      if (word == "am" || word == "pm") {
        (word == "pm" ? pm : am) = true;
        continue;
      }
      static constexpr const char* kMonths[] = {
          "january", "february", "march",     "april",   "may",      "june",
          "july",    "august",   "september", "october", "november", "december"};
      int found = 0;
      for (int k = 0; k < 12; ++k) {
        std::string_view name = kMonths[k];
        if (word == name || (word.size() == 3 && name.substr(0, 3) == word))
          found = k + 1;
      }
      if (found == 0 || month_word != 0) return false;
      month_word = found;
      continue;
    }
    if (c == u'/' || c == u'-' || c == u':') {
      seps.push_back(c);
    } else if (c != u' ' && c != u'T' && c != u',') {
      return false;
    } else {
      seps.push_back(u' ');
    }
    ++i;
  }
  size_t colon = 0, dates = 0;
  for (char16_t s : seps) {
    colon += s == u':';
    dates += s == u'/' || s == u'-';
  }
  size_t n_date = month_word ? 2 : dates == 2 ? 3 : 0;
  if (dates != 0 && dates != 2) return false;
  size_t n_time = colon == 0 ? 0 : colon + 1;
  if (nums.size() != n_date + n_time || (n_date == 0 && n_time == 0))
    return false;
  double value = 0;
  if (n_date) {
    int y, m, d;
    if (month_word) {
      m = month_word;
      d = nums[0] > 31 ? nums[1] : nums[0];
      y = nums[0] > 31 ? nums[0] : nums[1];
      if (y < 30)
        y += 2000;
      else if (y < 100)
        y += 1900;
    } else if (nums[0] > 31) {
      y = nums[0], m = nums[1], d = nums[2];
    } else {
      m = nums[0], d = nums[1], y = nums[2];
      if (y < 30)
        y += 2000;
      else if (y < 100)
        y += 1900;
    }
    if (m < 1 || m > 12 || d < 1 || d > 31 || y < 100 || y > 9999) return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30,
                                    31, 31, 30, 31, 30, 31};
    if (d > kDays[m - 1]) return false;
    if (m == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)))
      return false;
    value = MakeDate(y, m, d);
  }
  if (n_time) {
    int h = nums[n_date], mi = nums[n_date + 1],
        s = n_time > 2 ? nums[n_date + 2] : 0;
    if (pm && h < 12) h += 12;
    if (am && h == 12) h = 0;
    if (h > 23 || mi > 59 || s > 59) return false;
    value += MakeTime(h, mi, s);
  }
  *out = value;
  return true;
}

Var ToDateVar(const Var& v) {
  if (v.type() == VType::kDate) return v;
  if (v.is_string()) {
    double d;
    if (ParseDateText(v.str(), &d)) return Var::Date(d);
    if (IsNumericText(v.str(), &d)) return Var::Date(d);
    Raise(error::kTypeMismatch);
  }
  return Var::Date(ToDouble(v));
}

int Compare(const Var& a, const Var& b, bool text_mode) {
  const bool as = a.is_string(), bs = b.is_string();
  if (as && bs) return CompareText(a.str(), b.str(), text_mode);
  if (as || bs) {
    const Var& other = as ? b : a;
    if (other.is_empty()) {
      return as ? CompareText(a.str(), u"", text_mode)
                : CompareText(u"", b.str(), text_mode);
    }
    if (other.is_numeric()) return as ? 1 : -1;  // a number sorts before text
  }
  if (a.is_object() || b.is_object() || a.is_array() || b.is_array()) {
    Raise(error::kTypeMismatch);
  }
  if (IsWhole(a) && IsWhole(b)) {
    return a.raw_long() < b.raw_long()   ? -1
           : a.raw_long() > b.raw_long() ? 1
                                         : 0;
  }
  if (IsWholeOrCurrency(a) && IsWholeOrCurrency(b)) {
    // Exactly, in ten-thousandths: a Double would blur large amounts.
    const int64_t x = ToCurrency(a), y = ToCurrency(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = ToDouble(a), y = ToDouble(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

bool Equal(const Var& a, const Var& b, bool text_mode) {
  return Compare(a, b, text_mode) == 0;
}

Var Binary(BinOp op, const Var& a, const Var& b) {
  switch (op) {
    case BinOp::kConcat: {
      if (a.is_null() && b.is_null()) return Var::Null();
      Text out = a.is_null() ? Text() : ToStr(a);
      if (!b.is_null()) {
        if (b.is_string())
          out += b.str();
        else
          out += ToStr(b);
      }
      return Var::String(std::move(out));
    }
    case BinOp::kAdd:
      if (a.is_string() && b.is_string()) return Var::String(a.str() + b.str());
      if (a.is_string() && b.is_empty()) return a;
      if (b.is_string() && a.is_empty()) return b;
      return Arithmetic(op, a, b);
    case BinOp::kSub:
    case BinOp::kMul:
    case BinOp::kDiv:
    case BinOp::kIntDiv:
    case BinOp::kMod:
    case BinOp::kPow:
      return Arithmetic(op, a, b);
    case BinOp::kAnd:
    case BinOp::kOr:
    case BinOp::kXor:
    case BinOp::kEqv:
    case BinOp::kImp:
      return Logical(op, a, b);
    default: {
      if (a.is_null() || b.is_null()) return Var::Null();
      int c = Compare(a, b);
      switch (op) {
        case BinOp::kEq:
          return Var::Bool(c == 0);
        case BinOp::kNe:
          return Var::Bool(c != 0);
        case BinOp::kLt:
          return Var::Bool(c < 0);
        case BinOp::kLe:
          return Var::Bool(c <= 0);
        case BinOp::kGt:
          return Var::Bool(c > 0);
        default:
          return Var::Bool(c >= 0);
      }
    }
  }
}

Var Negate(const Var& v) {
  switch (v.type()) {
    case VType::kNull:
      return v;
    case VType::kEmpty:
      return Var::Integer(0);
    case VType::kBoolean:
    case VType::kInteger:
    case VType::kByte:
      return IntegerResult(-static_cast<int64_t>(v.raw_long()),
                           VType::kInteger);
    case VType::kLong:
      return IntegerResult(-static_cast<int64_t>(v.raw_long()), VType::kLong);
    case VType::kDate:
      return Var::Date(-v.raw_double());
    case VType::kSingle:
      return Var::Single(-v.raw_single());
    case VType::kCurrency:
      return Var::Currency(
          CheckedCurrency(-static_cast<Wide>(v.raw_currency())));
    default:
      return Var::Double(-ToDouble(v));
  }
}

Var Not(const Var& v) {
  switch (v.type()) {
    case VType::kNull:
      return v;
    case VType::kBoolean:
      return Var::Bool(v.raw_long() == 0);
    case VType::kEmpty:
    case VType::kInteger:
    case VType::kByte:
      return Var::Integer(static_cast<int16_t>(~v.raw_long()));
    default:
      return Var::Long(~ToLong(v));
  }
}

}  // namespace pellar::script
