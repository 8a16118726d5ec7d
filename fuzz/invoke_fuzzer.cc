// Invoke with arbitrary classes, methods and argument values decoded from
// the input: a sequence of calls on one instance, arguments passed by value
// or as caller variables (one variable may be passed twice), sometimes one
// argument too many or too few. Every call must answer its declared type or
// fail with a Failure; a ref variable comes back in its declared type.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>
#include "fuzz_support.h"

namespace pellar {
namespace {

constexpr int kMaxCalls = 24;
constexpr size_t kMaxTextLength = 4096;

// Names an input is likely to need: the files and folders made below,
// patterns, devices and names outside the sandbox.
constexpr const char16_t* kNames[] = {
    u"a.txt",     u"sub",       u"sub/b.csv", u"*",
    u"*.txt",     u"",          u".",         u"..",
    u"/dev/null", u"x y.txt",   u"out.xml",   u"outbox",
    u"new",       u"UFL.log",   u"../escape", u"/etc/passwd",
    u"\"q\"",     u"a.txt.bak", u"savelog",   u"version"};

void MakeFiles() {
  fuzz::WriteFile("a.txt", "k1,v1\r\nk2,v2\r\n");
  std::filesystem::create_directory("sub");
  fuzz::WriteFile("sub/b.csv", "x;y\rz;w");
  std::filesystem::create_directory("outbox");
}

Text ConsumeText(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return Text(in.PickValueInArray(kNames));
    case 1: {  // UTF-16 code units, lone surrogates and NUL included
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, kMaxTextLength);
      Text text;
      for (size_t i = 0; i < n && in.remaining_bytes() >= 2; ++i) {
        text.push_back(in.ConsumeIntegral<char16_t>());
      }
      return text;
    }
    case 2:  // Windows-1252 bytes
      return FromAnsi(in.ConsumeRandomLengthString(kMaxTextLength));
    default:  // a number as text, maybe out of range
      return Decimal(in.ConsumeIntegral<int64_t>());
  }
}

Value ConsumeValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
      return Value{};
    case 1:
      return in.ConsumeIntegral<int16_t>();
    case 2:
      return in.ConsumeIntegral<int32_t>();
    case 3:
      return in.ConsumeFloatingPoint<double>();
    case 4:
      return in.ConsumeBool();
    case 5:
      return static_cast<int32_t>(in.ConsumeIntegralInRange<int>(-2, 40));
    default:
      return ConsumeText(in);
  }
}

bool HoldsType(const Value& value, Type type) {
  switch (type) {
    case Type::kText:
      return std::holds_alternative<Text>(value);
    case Type::kInt32:
      return std::holds_alternative<int32_t>(value);
    case Type::kInt16:
      return std::holds_alternative<int16_t>(value);
    case Type::kBoolean:
      return std::holds_alternative<bool>(value);
  }
  return false;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace
}  // namespace pellar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellar;
  fuzz::InputScope scope;
  MakeFiles();
  FuzzedDataProvider in(data, size);
  const std::vector<ClassInfo>& classes = Classes();
  const ClassInfo& cls =
      classes[in.ConsumeIntegralInRange<size_t>(0, classes.size() - 1)];
  Object object(cls);
  std::array<Value, 4> variables;
  for (int call = 0; call < kMaxCalls && in.remaining_bytes() > 0; ++call) {
    const MethodInfo& method = cls.methods[in.ConsumeIntegralInRange<size_t>(
        0, cls.methods.size() - 1)];
    size_t count = method.params.size();
    // Now and then one argument too many or too few.
    const int skew = in.ConsumeIntegralInRange<int>(0, 15);
    if (skew == 0) ++count;
    if (skew == 1 && count > 0) --count;
    std::vector<Arg> args;
    std::vector<int> ref_of(count, -1);
    for (size_t i = 0; i < count; ++i) {
      const int how = in.ConsumeIntegralInRange<int>(0, 2);
      if (how == 0) {
        args.push_back(Arg::Val(ConsumeValue(in)));
      } else {
        const int v = in.ConsumeIntegralInRange<int>(0, variables.size() - 1);
        if (how == 2) variables[v] = ConsumeValue(in);
        ref_of[i] = v;
        args.push_back(Arg::Ref(variables[v]));
      }
    }
    bool bound = false;
    try {
      const Value result = Invoke(object, method, args);
      Check(HoldsType(result, method.result));
      bound = true;
    } catch (const ArgumentFailure& failure) {
      Check(failure.number() == error::kTypeMismatch ||
            failure.number() == error::kOverflow);
    } catch (const Failure& failure) {
      Check(failure.number() > 0 && !failure.description().empty());
      bound = failure.number() != error::kWrongArgumentCount;
    }
    if (bound) {
      // A variable passed to a ref parameter holds its declared type now
      // (when passed twice, the type of one of the two).
      for (size_t i = 0; i < count; ++i) {
        if (ref_of[i] < 0 || method.params[i].passing != Passing::kRef)
          continue;
        bool typed = false;
        for (size_t j = 0; j < count; ++j) {
          if (ref_of[j] == ref_of[i] &&
              method.params[j].passing == Passing::kRef &&
              HoldsType(variables[ref_of[i]], method.params[j].type)) {
            typed = true;
          }
        }
        Check(typed);
      }
    }
  }
  return 0;
}
