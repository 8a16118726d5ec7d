// The script's values: a small tagged variant (16 bytes) whose numbers live
// inline, with reference-counted boxes for texts, arrays and objects. The
// subtype numbers are VBScript's VarType codes.
#ifndef PELLAR_HOST_VARIANT_H_
#define PELLAR_HOST_VARIANT_H_

#include <pellar/base/failure.h>
#include <pellar/base/text.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace pellar::script {

enum class VType : uint8_t {
  kEmpty = 0,
  kNull = 1,
  kInteger = 2,
  kLong = 3,
  kSingle = 4,
  kDouble = 5,
  kCurrency = 6,  // a whole number of ten-thousandths
  kDate = 7,
  kString = 8,
  kObject = 9,
  kBoolean = 11,
  kByte = 17,
  kArray = 12,  // a variant array; VarType answers 8192 + 12
  kRef = 99,    // a ByRef parameter slot pointing at the caller's variable
};

// Dates lie strictly between these serials: 99-12-31 and 10000-01-01.
inline constexpr double kMinDate = -657435;
inline constexpr double kMaxDate = 2958466;

// Currency's range in ten-thousandths: -922,337,203,685,477.5808 to
// 922,337,203,685,477.5807.
inline constexpr int64_t kMinCurrency = INT64_MIN;
inline constexpr int64_t kMaxCurrency = INT64_MAX;
inline constexpr int64_t kCurrencyScale = 10000;

// Throws the failure with the text of `number`.
[[noreturn]] void Raise(int number);

// One budget for the bytes all the values of a run hold (texts, arrays,
// dictionaries, files read): a counter that boxes add to when they are made
// or grow and take from when they go. SIZE_MAX until a run sets it.
void SetMemoryLimit(size_t bytes);
size_t MemoryInUse();
// Raises 7 "Out of memory" unless `bytes` more fit: checked before a big
// text or array is built, so that it is never built.
void CheckMemory(size_t bytes);
// Longest text the host builds: beyond what a report needs, small enough
// that one text cannot take the machine.
inline constexpr size_t kMaxTextLength = size_t{1} << 26;
// Raises 7 unless a text of `chars` characters may be built.
void CheckTextLength(size_t chars);

struct Boxed {
  int refs = 1;
  virtual ~Boxed();  // gives back what it was charged
  // Makes the box's share of the budget `bytes`; raises 7 (changing
  // nothing) when the growth does not fit.
  void Charge(size_t bytes);

 private:
  size_t charged_ = 0;
};

struct StrBox final : Boxed {
  explicit StrBox(Text t) : text(std::move(t)) {}
  Text text;
};

class Var;
class ScriptObject;
struct ArrBox;

class Var {
 public:
  Var() : type_(VType::kEmpty), l_(0) {}
  Var(const Var& o) : type_(o.type_), d_(o.d_) { AddRef(); }
  Var(Var&& o) noexcept : type_(o.type_), d_(o.d_) { o.type_ = VType::kEmpty; }
  Var& operator=(const Var& o) {
    if (this != &o) {
      Var copy(o);
      Swap(copy);
    }
    return *this;
  }
  Var& operator=(Var&& o) noexcept {
    Swap(o);
    return *this;
  }
  ~Var() { Release(); }
  void Swap(Var& o) noexcept {
    std::swap(type_, o.type_);
    std::swap(d_, o.d_);
  }

  static Var Null() {
    Var v;
    v.type_ = VType::kNull;
    return v;
  }
  static Var Integer(int16_t i) {
    Var v;
    v.type_ = VType::kInteger;
    v.l_ = i;
    return v;
  }
  static Var Long(int32_t i) {
    Var v;
    v.type_ = VType::kLong;
    v.l_ = i;
    return v;
  }
  static Var Byte(uint8_t i) {
    Var v;
    v.type_ = VType::kByte;
    v.l_ = i;
    return v;
  }
  // Raises 6 "Overflow" beyond a Single's range.
  static Var Single(double d);
  static Var Currency(int64_t ten_thousandths) {
    Var v;
    v.type_ = VType::kCurrency;
    v.c_ = ten_thousandths;
    return v;
  }
  static Var Double(double d) {
    Var v;
    v.type_ = VType::kDouble;
    v.d_ = d;
    return v;
  }
  // Raises 6 "Overflow" outside the years 100 to 9999.
  static Var Date(double d) {
    if (!(d > kMinDate && d < kMaxDate)) Raise(error::kOverflow);
    Var v;
    v.type_ = VType::kDate;
    v.d_ = d;
    return v;
  }
  static Var Bool(bool b) {
    Var v;
    v.type_ = VType::kBoolean;
    v.l_ = b ? -1 : 0;
    return v;
  }
  static Var String(Text t);           // charges the text (raises 7)
  static Var Object(ScriptObject* o);  // takes a reference; null is Nothing
  // Takes ownership of one reference and charges the array (raises 7).
  static Var Array(ArrBox* a);
  static Var Ref(Var* target) {
    Var v;
    v.type_ = VType::kRef;
    v.ref_ = target;
    return v;
  }
  // The smallest of Integer, Long, Double holding `n`.
  static Var Number(int64_t n);

  VType type() const { return type_; }
  bool is_empty() const { return type_ == VType::kEmpty; }
  bool is_null() const { return type_ == VType::kNull; }
  bool is_string() const { return type_ == VType::kString; }
  bool is_object() const { return type_ == VType::kObject; }
  bool is_array() const { return type_ == VType::kArray; }
  // Integer, Long, Single, Double, Currency, Date, Boolean, Byte, Empty
  bool is_numeric() const;
  int32_t raw_long() const { return l_; }
  double raw_double() const { return d_; }
  float raw_single() const { return f_; }
  int64_t raw_currency() const { return c_; }
  const Text& str() const { return static_cast<StrBox*>(box_)->text; }
  // The text to change in place, when no other value shares it; charge
  // its growth with RechargeStr.
  Text* UnsharedStr() {
    return type_ == VType::kString && box_->refs == 1
               ? &static_cast<StrBox*>(box_)->text
               : nullptr;
  }
  void RechargeStr();
  ScriptObject* object() const { return obj_; }
  ArrBox* array() const { return arr_; }
  ArrBox* MutableArray();  // unshares first
  Var* ref() const { return ref_; }
  // The variable a ByRef slot stands for, or this.
  Var* Target() { return type_ == VType::kRef ? ref_ : this; }

 private:
  void AddRef() const;
  void Release();

  VType type_;
  union {
    int32_t l_;
    float f_;
    int64_t c_;
    double d_;
    Boxed* box_;
    ScriptObject* obj_;
    ArrBox* arr_;
    Var* ref_;
  };
};

// Values are copied everywhere: keep them two words.
static_assert(sizeof(Var) == 16);

struct ArrBox final : Boxed {
  std::vector<int32_t> upper;  // per dimension; lower bounds are 0
  std::vector<Var> items;      // first dimension varies fastest
  int locks = 0;               // elements passed by reference right now
  bool fixed = false;          // declared with bounds: no ReDim
  // Charges what the array holds now to the budget (raises 7).
  void Recharge() {
    Charge(sizeof(ArrBox) + items.capacity() * sizeof(Var) +
           upper.capacity() * sizeof(int32_t));
  }
  // Index of the element, or failure 9.
  size_t Offset(std::span<const int32_t> index) const;
};

// A one-dimensional array of `items`, bounds 0 to items.size() - 1.
Var NewArray(std::vector<Var> items);

// A function or method call's arguments: each points at the caller's
// variable (by reference) or at a temporary.
using Args = std::span<Var* const>;

enum class CallKind : uint8_t { kGet, kLet, kSet, kCall };

class Host;

class ScriptObject : public Boxed {
 public:
  virtual Text TypeName() const = 0;
  // Member `name` (lower case; "" is the default member). For kLet and kSet
  // the last argument is the value assigned.
  virtual Var Invoke(Host& in, std::string_view name, Args args,
                     CallKind kind) = 0;
  // The values For Each walks; false when the object is not a collection.
  virtual bool Enumerate(std::vector<Var>& out) {
    (void)out;
    return false;
  }
  // Lets go of every value held, when the run ends.
  virtual void Drop() {}
  // Called when the last reference goes: true keeps the object for now
  // (an instance of a script's class whose Class_Terminate is still to run).
  virtual bool KeepWhenUnreferenced() { return false; }
  // Members resolved once per call site: a key that objects whose members
  // resolve alike share (nullptr: resolve `name` at every call), the number
  // of member `name` (-1: none), and the call by that number.
  virtual const void* MemberTable() const { return nullptr; }
  virtual int32_t FindMember(std::string_view name) const {
    (void)name;
    return -1;
  }
  virtual Var InvokeResolved(Host& in, int32_t member, std::string_view name,
                             Args args, CallKind kind) {
    (void)member;
    return Invoke(in, name, args, kind);
  }
  // An instance of a script's class: the class; -1 for every other object.
  int32_t class_id = -1;
};

// Conversions by VBScript's rules; failures raise 13, 6 or 94.
[[nodiscard]] bool IsNumericText(TextView text, double* out);
double ToDouble(const Var& v);
int32_t ToLong(const Var& v);  // rounds half to even; 6 beyond range
int16_t ToInteger(const Var& v);
// CCur: ten-thousandths, half to even at the fifth decimal; 6 beyond range.
int64_t ToCurrency(const Var& v);
// A Currency's text: no exponent, up to four decimals, no trailing zeros.
Text CurrencyText(int64_t ten_thousandths);
bool ToBool(const Var& v);
Text ToStr(const Var& v);  // Null raises 94
// Echo's form: Booleans as -1/0, Null as "Null".
Text EchoText(const Var& v);
Text DateText(double date);
// Whole days since 1899-12-30 and the time as a fraction.
double MakeDate(int year, int month, int day);
double MakeTime(int hour, int minute, int second);
struct DateParts {
  int year, month, day, hour, minute, second, weekday;  // weekday 1 = Sunday
};
DateParts SplitDate(double date);
// A date from text: "YYYY-MM-DD", "M/D/YYYY", with an optional time
// "H:MM[:SS] [AM|PM]", or a time alone; false when the text is none.
[[nodiscard]] bool ParseDateText(TextView text, double* out);
Var ToDateVar(const Var& v);

// Operators.
enum class BinOp : uint8_t {
  kAdd,
  kSub,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kPow,
  kConcat,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
};
Var Binary(BinOp op, const Var& a, const Var& b);
Var Negate(const Var& v);
Var Not(const Var& v);
// -1, 0, 1 by VBScript's comparison rules; `text_mode` compares texts
// without case. Null operands are the caller's business.
int Compare(const Var& a, const Var& b, bool text_mode = false);
bool Equal(const Var& a, const Var& b, bool text_mode = false);

}  // namespace pellar::script

#endif  // PELLAR_HOST_VARIANT_H_
